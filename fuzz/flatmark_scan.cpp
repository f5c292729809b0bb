// The flatmark scanners through the host, as a user's call reaches them. The input is three
// option bytes, then the text to index; each input is indexed with all five indexer types.
//   byte 0: bits 0-1 offset width input (0, 1, -1, 256), bit 2 consecutive layout, bit 3 keys,
//           bits 4-5 key field count, bits 6-7 key token ("", "ID", "AC   ", ">")
//   byte 1: bit 0 comment prefix ("", "#"), bits 1-2 header prefix ("", "@", "#", "ID"),
//           bits 3-4 field delimiter (TAB, " ", ",", an empty array), bits 5-6 entry delimiter
//           ("//", "", ">", "ID")
//   byte 2: below 32, the poll at which the host raises a stop request (0: none)
// A host error is fine. A crash, a leak, a read past a buffer, an escaped foreign exception,
// an array or descriptor left behind, or an index file that contradicts the call's outputs is not.
#include "fuzzkit.h"
#include "hxhost.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kTypes[] = {"mrtab", "table", "fasta", "fastq", "flat"};
const double kWide[] = {0, 1, -1, 256};
const char* const kKeyTokens[] = {"", "ID", "AC   ", ">"};
const char* const kComments[] = {"", "#"};
const char* const kHeaders[] = {"", "@", "#", "ID"};
const char* const kFieldDelimiters[] = {"\t", " ", ",", nullptr}; // null: an empty char array
const char* const kEntryDelimiters[] = {"//", "", ">", "ID"};

const hxhost::Plugin& plugin() {
    static const hxhost::Plugin p(std::string(HELIXO_BIN_DIR) + "/flatmark.so");
    return p;
}

struct Options {
    double wide;
    bool consecutive;
    bool keys;
    double key_fields;
    std::string key_token, comment, header, entry_delimiter;
    const char* field_delimiter;
    long stop_at_poll;
};

Options options_from(fuzzkit::Bytes& in) {
    const std::uint8_t a = in.byte();
    const std::uint8_t b = in.byte();
    const std::uint8_t c = in.byte();
    Options o;
    o.wide = kWide[a & 3];
    o.consecutive = (a >> 2 & 1) != 0;
    o.keys = (a >> 3 & 1) != 0;
    o.key_fields = a >> 4 & 3;
    o.key_token = kKeyTokens[a >> 6 & 3];
    o.comment = kComments[b & 1];
    o.header = kHeaders[b >> 1 & 3];
    o.field_delimiter = kFieldDelimiters[b >> 3 & 3];
    o.entry_delimiter = kEntryDelimiters[b >> 5 & 3];
    o.stop_at_poll = c < 32 ? c : 0;
    return o;
}

std::uint64_t le(const std::string& bytes, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int k = 0; k < width; ++k)
        v |= std::uint64_t{static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)])}
             << (8 * k);
    return v;
}

// The index file a successful call wrote, against the format and the call's outputs.
void check_index(const std::string& type, const Options& o, double entries, double lines,
                 std::size_t text_size) {
    const std::string f = fuzzkit::read_file(fuzzkit::temp_file("out.idx"));
    const auto broken = [&](const std::string& what) { fuzzkit::fail(type + " index: " + what); };
    if (f.size() < 512)
        broken("shorter than its header");
    if (f.compare(0, 12, std::string("QZRidx\x01 2.0\0", 12)) != 0)
        broken("magic");
    const std::uint64_t n = le(f, 12, 4);
    if (static_cast<double>(n) != entries)
        broken("entry count differs from output 1");
    if (lines < 0 || lines != static_cast<double>(static_cast<std::uint32_t>(lines)))
        broken("line count is not a 32-bit count");
    const std::uint64_t keys_at = le(f, 16, 8);
    const std::uint64_t table_at = le(f, 24, 8);
    const bool consecutive = type == "fasta" || type == "fastq" || o.consecutive;
    if (static_cast<unsigned char>(f[32]) != (consecutive ? 1 : 0))
        broken("layout byte");
    const auto width_byte = static_cast<unsigned char>(f[33]);
    if (width_byte != (static_cast<long long>(o.wide) & 0xff))
        broken("offset width byte");
    const std::string delimiter = o.entry_delimiter + "\t" + std::string(1, '\0');
    if (f.compare(34, delimiter.size(), delimiter) != 0)
        broken("entry delimiter");
    if (keys_at != (o.keys ? 512u : 0u) || table_at < 512 || table_at > f.size())
        broken("section positions");
    const std::string keys = f.substr(512, static_cast<std::size_t>(table_at - 512));
    if (o.keys ? static_cast<std::uint64_t>(std::count(keys.begin(), keys.end(), '\n')) != n ||
                     (!keys.empty() && keys.back() != '\n')
               : !keys.empty())
        broken("keys section does not hold one line per entry");
    const int width = width_byte != 0 ? 8 : 4;
    const std::uint64_t values = consecutive ? n + 1 : 2 * n;
    if (f.size() - table_at != values * static_cast<std::uint64_t>(width))
        broken("offset table size");
    std::uint64_t previous = 0;
    for (std::uint64_t k = 0; k < values; ++k) {
        const std::uint64_t offset = le(f, static_cast<std::size_t>(table_at + k * width), width);
        if (offset > text_size)
            broken("offset past the end of the text");
        // Consecutive: a running boundary. Paired: each entry's end is not before its start.
        if ((consecutive || k % 2 == 1) && offset < previous)
            broken("offsets out of order");
        previous = offset;
    }
}

hxhost::ArrayPtr text(const std::string& s) {
    return hxhost::make_text(s);
}

void index_once(const std::string& type, const Options& o, std::size_t text_size) {
    std::vector<hxhost::ArrayPtr> owned;
    owned.push_back(text(type));
    owned.push_back(text(fuzzkit::temp_file("in.txt")));
    owned.push_back(text(fuzzkit::temp_file("out.idx")));
    owned.push_back(hxhost::make_double(o.wide));
    owned.push_back(hxhost::make_double(o.consecutive ? 1 : 0));
    owned.push_back(hxhost::make_double(o.keys ? 1 : 0));
    owned.push_back(hxhost::make_double(o.key_fields));
    owned.push_back(text(o.key_token));
    owned.push_back(text(o.comment));
    owned.push_back(text(o.header));
    owned.push_back(o.field_delimiter != nullptr ? text(o.field_delimiter)
                                                 : hxhost::make_char({}, {0, 0}));
    owned.push_back(text(o.entry_delimiter));
    std::vector<const haArray*> inputs;
    for (const auto& a : owned)
        inputs.push_back(a.get());

    const long arrays_before = hxhost::live_arrays();
    const int fds_before = hxhost::open_fd_count();
    hxhost::CallOptions call;
    call.interrupt_at = o.stop_at_poll;
    hxhost::CallResult r = plugin().call(2, inputs, call);
    hxhost::clear_interrupt();
    if (r.foreign_exception)
        fuzzkit::fail(type + ": a foreign exception escaped the plug-in: " + r.message);
    if (hxhost::open_fd_count() != fds_before)
        fuzzkit::fail(type + ": the call left a file open (" + r.identifier + ")");
    if (r.ok) {
        if (r.outputs.size() != 2 || !r.outputs[0] || !r.outputs[1])
            fuzzkit::fail(type + ": a successful call without its two outputs");
        check_index(type, o, haGetScalar(r.outputs[0].get()), haGetScalar(r.outputs[1].get()),
                    text_size);
    } else if (r.identifier.rfind("helixo:flatmark:", 0) != 0) {
        fuzzkit::fail(type + ": an error outside the plug-in's namespace: " + r.identifier);
    }
    r.outputs.clear();
    if (hxhost::live_arrays() != arrays_before)
        fuzzkit::fail(type + ": the call left arrays alive");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzkit::Bytes in(data, size);
    const Options o = options_from(in);
    fuzzkit::write_file(fuzzkit::temp_file("in.txt"), in.data(), in.left());
    for (const char* type : kTypes)
        index_once(type, o, in.left());
    return 0;
}
