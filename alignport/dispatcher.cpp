// The entry of alignport: matches the service name, opens the BAM file and loads its index for
// the services that need them, and releases both (index first, then file) on every path.
#include "bam_layer.h"
#include "hxutil.h"
#include "services.h"

#include <cstring>

namespace alignport {
namespace {

enum class Kind { SelfOpening, File, Indexed };

typedef void (*SelfFn)(ALIGNPORT_SELF_ARGS);
typedef void (*FileFn)(ALIGNPORT_FILE_ARGS);
typedef void (*IndexedFn)(ALIGNPORT_INDEXED_ARGS);

struct Service {
    const char* name;
    Kind kind;
    SelfFn self;
    FileFn file;
    IndexedFn indexed;
};

constexpr Service selfOpening(const char* name, SelfFn fn) {
    return {name, Kind::SelfOpening, fn, nullptr, nullptr};
}
constexpr Service onFile(const char* name, FileFn fn) {
    return {name, Kind::File, nullptr, fn, nullptr};
}
constexpr Service indexed(const char* name, IndexedFn fn) {
    return {name, Kind::Indexed, nullptr, nullptr, fn};
}

// Tested in this order.
const Service kServices[] = {
    onFile("validatereferencestring", validatereferencestringF),
    onFile("getnumberofreferences", getnumberofreferencesF),
    onFile("getreferencestring", getreferencestringF),
    indexed("getstartsinref", getstartsinrefF),
    indexed("getfeatureinrefbyindex", getfeatureinrefbyindexF),
    indexed("getfeaturesinrefbyindex", getfeaturesinrefbyindexF),
    selfOpening("indexbamfile", indexbamfileF),
    selfOpening("sam2bam", sam2bamF),
    selfOpening("bam2bam", bam2bamF),
    selfOpening("bamsort", bamsortF),
    selfOpening("baminfo", baminfoF),
    selfOpening("saminfo", saminfoF),
    selfOpening("getheader", getheaderF),
    indexed("writesambyregion", writesambyregionF),
    onFile("writesamunaligned", writesamunalignedF),
    indexed("dumpinfobyregion", dumpinfobyregionF),
    indexed("dumpinfobyindex", dumpinfobyindexF),
    indexed("dumpinfoinrefbyindex", dumpinfoinrefbyindexF),
    onFile("dumpstartsinfo", dumpstartsinfoF),
};

constexpr std::size_t kNameBuffer = 256;

const Service* find_service(const char* name) {
    for (const Service& s : kServices) {
        if (std::strcmp(s.name, name) == 0)
            return &s;
    }
    return nullptr;
}

void dispatch(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    if (inCount < 2)
        plugin_error("InvalidNumInputArg", "Invalid number of input arguments required.");
    char serviceName[kNameBuffer];
    if (!hxb::read_text(inArgs[0], serviceName, sizeof serviceName))
        plugin_error("InvalidServiceType", "Invalid service type.");
    const Service* service = find_service(serviceName);
    if (service != nullptr && service->kind == Kind::SelfOpening) {
        service->self(outCount, outSlots, inCount - 1, inArgs + 1);
        return;
    }
    if (service == nullptr)
        plugin_error("UnknownServiceType", "Unknown service type.");

    char bamName[kNameBuffer];
    if (!hxb::read_text(inArgs[1], bamName, sizeof bamName))
        plugin_error("InvalidFileName", "Invalid BAM file name.");
    // Declared before the index so that the index is destroyed first.
    SamFilePtr file = open_bam(bamName);
    if (!file)
        plugin_error("CannotOpenInFile", "Could not open BAM file.");
    if (service->kind == Kind::File) {
        service->file(outCount, outSlots, inCount - 2, inArgs + 2, file.get());
        return;
    }

    if (inCount < 3) {
        file.reset();
        plugin_error("InvalidNumInputArg", "Invalid number of input arguments required.");
    }
    char baiName[kNameBuffer];
    if (!hxb::read_text(inArgs[2], baiName, sizeof baiName)) {
        file.reset();
        plugin_error("InvalidFileName", "Invalid BAI file name.");
    }
    IndexPtr index = load_index(baiName, bam_facts(file.get(), bamName));
    if (!index) {
        file.reset();
        plugin_error("BAMIndexMissing", "BAM indexing file (BAI) is not available or is corrupt.");
    }
    service->indexed(outCount, outSlots, inCount - 3, inArgs + 3, file.get(), index.get());
}

} // namespace
} // namespace alignport

extern "C" void hxFunction(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    hxb::firewall("alignport", [&] { alignport::dispatch(outCount, outSlots, inCount, inArgs); });
}
