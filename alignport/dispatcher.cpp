// The entry of alignport: matches the service name in the service table (contract.cpp), opens
// the BAM file and loads its index for the services that need them, and releases both (index
// first, then file) on every path.
#include "bam_layer.h"
#include "contract.h"
#include "hxutil.h"
#include "service_inputs.h"

namespace alignport {
namespace {

void dispatch(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    if (inCount < 2)
        raise_error(Error::InputCount);
    char service_name[kServiceNameBuffer];
    if (!hxb::read_text(inArgs[0], service_name, sizeof service_name))
        raise_error(Error::InvalidServiceType);
    const ServiceContract* service = find_service(service_name);
    if (service != nullptr && service->opens == Opens::Nothing) {
        service->self(outCount, outSlots, inCount - 1, inArgs + 1);
        return;
    }
    if (service == nullptr)
        raise_error(Error::UnknownServiceType);

    char bam_name[kDispatchedNameBuffer];
    // Declared before the index so that the index is destroyed first; an error raised below
    // closes the file as it unwinds.
    SamFilePtr file = open_named_bam(inArgs[1], bam_name, sizeof bam_name);
    if (service->opens == Opens::Bam) {
        service->file(outCount, outSlots, inCount - 2, inArgs + 2, file.get());
        return;
    }

    if (inCount < 3)
        raise_error(Error::InputCount);
    char bai_name[kDispatchedNameBuffer];
    if (!hxb::read_text(inArgs[2], bai_name, sizeof bai_name))
        raise_error(Error::InvalidBaiName);
    IndexPtr index = load_index(bai_name, bam_facts(file.get(), bam_name));
    if (!index)
        raise_error(Error::IndexMissing);
    service->indexed(outCount, outSlots, inCount - 3, inArgs + 3, file.get(), index.get());
}

} // namespace
} // namespace alignport

extern "C" void hxFunction(int outCount, haArray* outSlots[], int inCount,
                           const haArray* inArgs[]) {
    hxb::firewall("alignport", [&] { alignport::dispatch(outCount, outSlots, inCount, inArgs); });
}
