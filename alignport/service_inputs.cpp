#include "service_inputs.h"

#include "hxutil.h"

namespace alignport {

void check_counts(ServiceId service, int inCount, int outCount) {
    const ServiceContract& contract = contract_of(service);
    if (inCount != contract.inputs)
        raise_error(service, Error::ServiceInputCount);
    if (contract.max_outputs >= 0 && outCount > contract.max_outputs)
        raise_error(service, Error::ServiceOutputCount);
}

SamFilePtr open_named_bam(const haArray* input, char* name, std::size_t size) {
    if (!hxb::read_text(input, name, size))
        raise_error(Error::InvalidBamName);
    SamFilePtr file = open_bam(name);
    if (!file)
        raise_error(Error::CannotOpenBam);
    return file;
}

} // namespace alignport
