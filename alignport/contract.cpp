// The service table and the one raise of alignport.
#include "contract.h"

#include "hxutil.h"

#include <cstring>
#include <string>

namespace alignport {
namespace {

constexpr ServiceContract self_opening(ServiceId id, const char* name, SelfFn fn, int inputs,
                                       int max_outputs, Rows<TextLimit> texts, Rows<Error> errors) {
    return {id, name, Opens::Nothing, fn, nullptr, nullptr, inputs, max_outputs, texts, errors};
}
constexpr ServiceContract on_file(ServiceId id, const char* name, FileFn fn, int inputs,
                                  int max_outputs, Rows<TextLimit> texts, Rows<Error> errors) {
    return {id, name, Opens::Bam, nullptr, fn, nullptr, inputs, max_outputs, texts, errors};
}
constexpr ServiceContract indexed(ServiceId id, const char* name, IndexedFn fn, int inputs,
                                  int max_outputs, Rows<TextLimit> texts, Rows<Error> errors) {
    return {id, name, Opens::BamAndIndex, nullptr, nullptr, fn, inputs, max_outputs, texts, errors};
}

constexpr Rows<TextLimit> kNoTexts{};

using S = ServiceId;
constexpr ServiceContract kServices[] = {
    on_file(S::ValidateReferenceString, "validatereferencestring", validatereferencestringF, 1, 1,
            rows_of(kValidateReferenceStringTexts), rows_of(kValidateReferenceStringErrors)),
    on_file(S::GetNumberOfReferences, "getnumberofreferences", getnumberofreferencesF, 0, 1,
            kNoTexts, rows_of(kGetNumberOfReferencesErrors)),
    on_file(S::GetReferenceString, "getreferencestring", getreferencestringF, 1, 1, kNoTexts,
            rows_of(kGetReferenceStringErrors)),
    indexed(S::GetStartsInRef, "getstartsinref", getstartsinrefF, 1, 3, kNoTexts,
            rows_of(kGetStartsInRefErrors)),
    indexed(S::GetFeatureInRefByIndex, "getfeatureinrefbyindex", getfeatureinrefbyindexF, 4, 1,
            rows_of(kGetFeatureInRefByIndexTexts), rows_of(kGetFeatureInRefByIndexErrors)),
    indexed(S::GetFeaturesInRefByIndex, "getfeaturesinrefbyindex", getfeaturesinrefbyindexF, 4, -1,
            rows_of(kGetFeaturesInRefByIndexTexts), rows_of(kGetFeaturesInRefByIndexErrors)),
    self_opening(S::IndexBamFile, "indexbamfile", indexbamfileF, 2, 0, rows_of(kIndexBamFileTexts),
                 rows_of(kIndexBamFileErrors)),
    self_opening(S::Sam2Bam, "sam2bam", sam2bamF, 2, 0, rows_of(kSam2BamTexts),
                 rows_of(kSam2BamErrors)),
    self_opening(S::Bam2Bam, "bam2bam", bam2bamF, 5, 0, rows_of(kBam2BamTexts),
                 rows_of(kBam2BamErrors)),
    self_opening(S::BamSort, "bamsort", bamsortF, 2, 0, rows_of(kBamSortTexts),
                 rows_of(kBamSortErrors)),
    self_opening(S::BamInfo, "baminfo", baminfoF, 1, 2, rows_of(kBamInfoTexts),
                 rows_of(kBamInfoErrors)),
    self_opening(S::SamInfo, "saminfo", saminfoF, 1, 3, rows_of(kSamInfoTexts),
                 rows_of(kSamInfoErrors)),
    self_opening(S::GetHeader, "getheader", getheaderF, 1, 3, rows_of(kGetHeaderTexts),
                 rows_of(kGetHeaderErrors)),
    indexed(S::WriteSamByRegion, "writesambyregion", writesambyregionF, 4, 0,
            rows_of(kWriteSamByRegionTexts), rows_of(kWriteSamByRegionErrors)),
    on_file(S::WriteSamUnaligned, "writesamunaligned", writesamunalignedF, 2, 0,
            rows_of(kWriteSamUnalignedTexts), rows_of(kWriteSamUnalignedErrors)),
    indexed(S::DumpInfoByRegion, "dumpinfobyregion", dumpinfobyregionF, 1, 0,
            rows_of(kDumpInfoByRegionTexts), rows_of(kDumpInfoByRegionErrors)),
    indexed(S::DumpInfoByIndex, "dumpinfobyindex", dumpinfobyindexF, 2, 0, kNoTexts,
            rows_of(kDumpInfoByIndexErrors)),
    indexed(S::DumpInfoInRefByIndex, "dumpinfoinrefbyindex", dumpinfoinrefbyindexF, 3, 0, kNoTexts,
            rows_of(kDumpInfoInRefByIndexErrors)),
    on_file(S::DumpStartsInfo, "dumpstartsinfo", dumpstartsinfoF, 0, 0, kNoTexts,
            rows_of(kDumpStartsInfoErrors)),
};
static_assert(sizeof kServices / sizeof kServices[0] == kServiceCount, "one row per service");

constexpr bool services_follow_ids() {
    for (std::size_t k = 0; k < kServiceCount; ++k)
        if (static_cast<std::size_t>(kServices[k].id) != k)
            return false;
    return true;
}
static_assert(services_follow_ids(), "kServices must list the services in ServiceId order");

constexpr const char kIdentifierPrefix[] = "helixo:alignport:";

// The one message format: see Form. service is nullptr for a raise without a service.
[[noreturn]] void raise_row(const char* service, const ErrorRow& row, const char* text) {
    std::string identifier = kIdentifierPrefix;
    std::string message;
    if (row.form != Form::Plugin && service != nullptr) {
        identifier += service;
        identifier += ':';
    }
    identifier += row.name;
    if ((row.form == Form::Service || row.form == Form::ServiceNoBlank) && service != nullptr) {
        message = service;
        message += row.form == Form::Service ? ": " : ":";
    }
    if (text != nullptr)
        message += text;
    hxb::raise(identifier, message);
}

} // namespace

const ServiceContract* find_service(const char* name) {
    for (const ServiceContract& service : kServices) {
        if (std::strcmp(service.name, name) == 0)
            return &service;
    }
    return nullptr;
}

const ServiceContract& contract_of(ServiceId service) {
    return kServices[static_cast<std::size_t>(service)];
}

void raise_error(Error error) {
    raise_row(nullptr, error_row(error), error_row(error).text);
}

void raise_error(ServiceId service, Error error) {
    raise_row(contract_of(service).name, error_row(error), error_row(error).text);
}

void raise_error(ServiceId service, Error error, const char* text) {
    raise_row(contract_of(service).name, error_row(error), text);
}

} // namespace alignport
