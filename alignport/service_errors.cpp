#include "services.h"
#include "hxutil.h"

#include <string>

namespace alignport {

void service_error(const char* service, const char* name, const char* text) {
    hxb::raise(std::string("helixo:alignport:") + service + ":" + name,
               std::string(service) + ": " + text);
}

void plugin_error(const char* name, const char* text) {
    hxb::raise(std::string("helixo:alignport:") + name, text);
}

void check_counts(const char* service, int inCount, int wantInputs, int outCount, int maxOutputs) {
    if (inCount != wantInputs)
        service_error(service, "InvalidNumInputArg", "Invalid number of input arguments required.");
    if (outCount > maxOutputs)
        service_error(service, "InvalidNumOutputArg", "Too many output arguments.");
}

void not_available(const char* service) {
    service_error(service, "NotAvailable", "Not available yet.");
}

} // namespace alignport
