// hxprobe: a plug-in for the host's own tests. Input 1 names a behaviour; each one exercises a
// rule of the host (ownership, interrupts, console, the firewall) the way a real plug-in would.
#include "hxhost.h"
#include "hxutil.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <stdexcept>
#include <string>

namespace {

const char kInterrupted[] = "helixo:probe:IterruptedByUser";

std::string text_input(int inCount, const haArray* inArgs[], int k) {
    char buf[4096];
    if (k >= inCount || !hxb::read_text(inArgs[k], buf, sizeof buf))
        hxb::raise("helixo:probe:InvalidInput", "Input " + std::to_string(k + 1) + " is not text.");
    return buf;
}

// A deep copy made through the host, so the copy and its elements belong to the call.
haArray* copy_of(const haArray* a) {
    if (haIsCell(a)) {
        haArray* cell = hxhost::make_cell_shaped(hxhost::dims_of(a)).release();
        for (haSize k = 0; k < haGetNumberOfElements(a); ++k) {
            if (const haArray* element = haGetCell(a, k))
                haSetCell(cell, k, copy_of(element));
        }
        return cell;
    }
    haArray* out =
        hxhost::make_array(haGetClassID(a), hxhost::dims_of(a), haIsComplex(a)).release();
    const std::size_t bytes = haGetNumberOfElements(a) * hxhost::element_size(haGetClassID(a));
    if (bytes != 0) {
        std::memcpy(haGetData(out), haGetData(a), bytes);
        if (haIsComplex(a))
            std::memcpy(const_cast<void*>(hxhost::imag_data(out)), hxhost::imag_data(a), bytes);
    }
    return out;
}

// A 1-by-2 cell holding a text and a nested cell with one unset element.
haArray* nested_cell() {
    haArray* inner = haCreateCellMatrix(1, 2);
    haSetCell(inner, 0, haCreateDoubleScalar(7));
    haArray* outer = haCreateCellMatrix(1, 2);
    haSetCell(outer, 0, haCreateString("name"));
    haSetCell(outer, 1, inner);
    return outer;
}

void sleep_ms(long ms) {
    timespec t{0, ms * 1000000L};
    nanosleep(&t, nullptr);
}

void run(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    const std::string what = text_input(inCount, inArgs, 0);
    if (what == "echo") { // output k is a copy of input k + 2
        for (int k = 0; k < outCount && k + 1 < inCount; ++k)
            outSlots[k] = copy_of(inArgs[k + 1]);
    } else if (what == "chars") { // a char array with the codes of a uint16 input
        if (inCount < 2 || haGetClassID(inArgs[1]) != haUINT16_CLASS)
            hxb::raise("helixo:probe:chars:InvalidCodes", "chars: Codes must be uint16.");
        outSlots[0] =
            haCreateCharArray(haGetNumberOfDimensions(inArgs[1]), haGetDimensions(inArgs[1]));
        const std::size_t bytes = haGetNumberOfElements(inArgs[1]) * sizeof(haChar);
        if (bytes != 0) // an empty array may have no data at all
            std::memcpy(haGetData(outSlots[0]), haGetData(inArgs[1]), bytes);
    } else if (what == "fail_after_outputs") {
        outSlots[0] = haCreateDoubleMatrix(3, 1, haREAL);
        if (outCount > 1)
            outSlots[1] = nested_cell();
        haCreateString("a temporary");
        hxb::raise("helixo:probe:fail_after_outputs:Failed", "fail_after_outputs: Failed late.");
    } else if (what == "temporaries") { // arrays never stored anywhere
        haCreateDoubleMatrix(100, 100, haCOMPLEX);
        nested_cell();
        haCreateString("lost");
    } else if (what == "nested_cell") {
        outSlots[0] = nested_cell();
    } else if (what == "same_array_twice") {
        outSlots[0] = haCreateDoubleScalar(1);
        if (outCount > 1)
            outSlots[1] = outSlots[0];
    } else if (what == "cell_element_twice") {
        haArray* element = haCreateString("shared");
        haSetCell(haCreateCellMatrix(1, 1), 0, element);
        haSetCell(haCreateCellMatrix(1, 1), 0, element); // the host refuses
    } else if (what == "polls") { // 'i' IsInterruptPending, 'h' HandlePendingInterrupt
        const std::string pattern = text_input(inCount, inArgs, 1);
        haArray* seen = haCreateNumericMatrix(1, pattern.size(), haLOGICAL_CLASS, haREAL);
        auto* flags = static_cast<std::uint8_t*>(haGetData(seen));
        for (std::size_t k = 0; k < pattern.size(); ++k)
            flags[k] = pattern[k] == 'i' ? HostInterrupt::IsInterruptPending()
                                         : HostInterrupt::HandlePendingInterrupt();
        outSlots[0] = seen;
    } else if (what == "handle_loop") { // a read loop: one poll per unit of work
        const std::int32_t units = hxb::read_int32(inCount > 1 ? inArgs[1] : nullptr);
        for (std::int32_t k = 0; k < units; ++k) {
            if (HostInterrupt::HandlePendingInterrupt())
                hxb::raise(kInterrupted, "Operation terminated by user.");
        }
        outSlots[0] = haCreateDoubleScalar(units);
    } else if (what == "wait_for_interrupt") { // tells the test it waits, then polls up to 20 s
        hxPrintf("waiting\n");
        std::fflush(stdout);
        for (int k = 0; k < 10000; ++k) {
            if (HostInterrupt::HandlePendingInterrupt())
                hxb::raise(kInterrupted, "Operation terminated by user.");
            sleep_ms(2);
        }
    } else if (what == "sleep_without_polling") { // a long library call: 20 s, signals or not
        hxPrintf("waiting\n");
        std::fflush(stdout);
        for (int k = 0; k < 10000; ++k)
            sleep_ms(2);
    } else if (what == "print") {
        hxPrintf("%s", text_input(inCount, inArgs, 1).c_str());
        hxPrintf("|%d|%s|", 42, "%d");
    } else if (what == "throw") {
        const std::string kind = text_input(inCount, inArgs, 1);
        if (kind == "bad_alloc")
            throw std::bad_alloc();
        if (kind == "runtime_error")
            throw std::runtime_error("probe broke");
        if (kind == "host")
            hxErrMsgIdAndTxt("helixo:probe:throw:Host", "throw: Host error %d.", 7);
        throw 42;
    } else {
        hxb::raise("helixo:probe:UnknownService", "Unknown probe service.");
    }
}

} // namespace

void hxFunction(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    hxb::firewall("probe", [&] { run(outCount, outSlots, inCount, inArgs); });
}
