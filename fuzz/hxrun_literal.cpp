// hxrun's literal parser and .npy reader (host/cli/literal.cpp, npy.cpp). The input is a mode
// byte, then:
//   mode even: one command-line word;
//   mode odd:  a word, a line feed, then file bytes. The file is written both as "f" and as
//              "f.npy" in the process's temporary folder, and "@F" and "@N" in the word name
//              them ("uint16@F", "cell:{double@N,x}"), so file inputs nest like any other.
// A word either becomes an array or is refused with a usage error; anything else escaping,
// a crash, a leak or a read past a buffer is a finding. Each array accepted (and each element of
// an accepted cell) that .npy can hold is written with write_npy and must read back with
// read_npy as the same values.
#include "cli.h"
#include "fuzzkit.h"

#include <cstring>
#include <string>

namespace {

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

void check_round_trip(const haArray* a, int depth) {
    if (a == nullptr || depth > 80)
        return;
    if (haIsCell(a)) {
        const std::size_t n = haGetNumberOfElements(a);
        for (std::size_t k = 0; k < n; ++k)
            check_round_trip(haGetCell(a, k), depth + 1);
        return;
    }
    if (haIsComplex(a))
        return; // written as complex pairs, a dtype the reader does not take
    const haClassID cls = haGetClassID(a);
    const std::string path = fuzzkit::temp_file("round-trip.npy");
    hxrun::write_npy(path, a);
    const hxhost::ArrayPtr back = hxrun::read_npy(path, cls);
    const std::size_t n = haGetNumberOfElements(a);
    if (haGetNumberOfElements(back.get()) != n || haGetClassID(back.get()) != cls)
        fuzzkit::fail("a .npy round trip changed the count or class of a " +
                      std::string(hxhost::class_name(cls)) + " array");
    if (n != 0 &&
        std::memcmp(haGetData(a), haGetData(back.get()), n * hxhost::element_size(cls)) != 0)
        fuzzkit::fail("a .npy round trip changed the values of a " +
                      std::string(hxhost::class_name(cls)) + " array");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzkit::Bytes in(data, size);
    const std::uint8_t mode = in.byte();
    std::string word = in.rest();
    if (mode % 2 == 1) {
        const std::size_t newline = word.find('\n');
        const std::string file = newline == std::string::npos ? "" : word.substr(newline + 1);
        word = word.substr(0, newline);
        fuzzkit::write_file(fuzzkit::temp_file("f"), file.data(), file.size());
        fuzzkit::write_file(fuzzkit::temp_file("f.npy"), file.data(), file.size());
        word = replace_all(word, "@F", "@" + fuzzkit::temp_file("f"));
        word = replace_all(word, "@N", "@" + fuzzkit::temp_file("f.npy"));
    }
    const long before = hxhost::live_arrays();
    try {
        const hxhost::ArrayPtr a = hxrun::parse_literal(word);
        if (a == nullptr)
            fuzzkit::fail("parse_literal returned no array");
        check_round_trip(a.get(), 0);
    } catch (const hxrun::UsageError&) {
        // a refused word
    }
    if (hxhost::live_arrays() != before)
        fuzzkit::fail("arrays left alive after a literal");
    return 0;
}
