// The traitmark field readers through the host. The input is two option bytes, optional raw
// offsets, then a text read as SAM, FASTA and FASTQ in turn; every feature of each type runs
// over entry offsets derived from that text.
//   byte 0: bit 0 64-bit offsets, bit 1 N one more than the offsets hold, bits 2-3 feature
//           type ("uint8", "uint16", "uint32", "char"), bits 4-6 the poll at which the host
//           raises a stop request (0: none)
//   byte 1: bits 0-1 offset scheme: 0 the type's own entry starts, 1 every line start,
//           2 the entry starts moved by bits 2-7 bytes (into lines, past the end), 3 raw
//           offsets: a count byte k (at most 16) and k eight-byte values follow byte 1
// A host error is fine. A crash, a leak, a read past a buffer, an escaped foreign exception,
// an array or descriptor left behind, or an index file that is not its old bytes plus N values
// of the feature's width (or, after a stop request, its old bytes alone) is not.
#include "fuzzkit.h"
#include "hxhost.h"

#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct Feature {
    const char* indexer;
    const char* name;
    unsigned width;
};

const Feature kFeatures[] = {
    {"sam", "Flag", 2},         {"sam", "Position", 4},  {"sam", "MappingQuality", 1},
    {"sam", "MatePosition", 4}, {"sam", "MateIndex", 4}, {"sam", "QueryLength", 2},
    {"sam", "EndPosition", 4},  {"sam", "Reference", 1}, {"fasta", "Length", 4},
    {"fastq", "Length", 2},
};
const char* const kFeatureTypes[] = {"uint8", "uint16", "uint32", "char"};
const std::string kOldIndex = "QZRidx-old";

const hxhost::Plugin& plugin() {
    static const hxhost::Plugin p(std::string(HELIXO_BIN_DIR) + "/traitmark.so");
    return p;
}

struct Options {
    bool wide;
    bool count_one_more;
    const char* feature_type;
    long stop_at_poll;
    int scheme;
    int shift;
    std::vector<std::uint64_t> raw;
};

Options options_from(fuzzkit::Bytes& in) {
    const std::uint8_t a = in.byte();
    const std::uint8_t b = in.byte();
    Options o;
    o.wide = (a & 1) != 0;
    o.count_one_more = (a >> 1 & 1) != 0;
    o.feature_type = kFeatureTypes[a >> 2 & 3];
    o.stop_at_poll = a >> 4 & 7;
    o.scheme = b & 3;
    o.shift = b >> 2;
    if (o.scheme == 3) {
        const int count = in.byte() % 17;
        for (int k = 0; k < count; ++k)
            o.raw.push_back(in.u64());
    }
    return o;
}

std::vector<std::uint64_t> line_starts(const std::string& text) {
    std::vector<std::uint64_t> starts;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (k == 0 || text[k - 1] == '\n')
            starts.push_back(k);
    }
    return starts;
}

// The entries of each format as a caller would find them: SAM alignment lines, FASTA header
// lines and the end of the text after them, FASTQ records of four lines.
std::vector<std::uint64_t> entry_starts(const std::string& indexer, const std::string& text) {
    const std::vector<std::uint64_t> lines = line_starts(text);
    std::vector<std::uint64_t> starts;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const char first = text[lines[k]];
        if ((indexer == "sam" && first != '@') || (indexer == "fasta" && first == '>') ||
            (indexer == "fastq" && k % 4 == 0))
            starts.push_back(lines[k]);
    }
    if (indexer == "fasta")
        starts.push_back(text.size());
    return starts;
}

std::vector<std::uint64_t> offsets_for(const std::string& indexer, const std::string& text,
                                       const Options& o) {
    switch (o.scheme) {
    case 0:
        return entry_starts(indexer, text);
    case 1:
        return line_starts(text);
    case 2: {
        std::vector<std::uint64_t> starts = entry_starts(indexer, text);
        for (std::uint64_t& s : starts)
            s += static_cast<std::uint64_t>(o.shift);
        return starts;
    }
    default:
        return o.raw;
    }
}

void extract_once(const Feature& feature, const std::string& text, const Options& o) {
    std::vector<std::uint64_t> offsets = offsets_for(feature.indexer, text, o);
    const bool fasta = std::string(feature.indexer) == "fasta";
    // FASTA reads offset N + 1 as the end of entry N.
    std::uint32_t count = static_cast<std::uint32_t>(offsets.size());
    if (fasta && count > 0)
        --count;
    if (o.count_one_more)
        ++count;
    // The index file holds kOldIndex before every call: written once, cut back after each call
    // (cheaper than rewriting it, which makes the file system flush a file emptied and refilled).
    const std::string index_path = fuzzkit::temp_file("out.idx");
    static const bool written =
        (fuzzkit::write_file(index_path, kOldIndex.data(), kOldIndex.size()), true);
    (void)written;

    std::vector<hxhost::ArrayPtr> owned;
    owned.push_back(hxhost::make_text(feature.indexer));
    owned.push_back(hxhost::make_text(feature.name));
    owned.push_back(hxhost::make_text(o.feature_type));
    owned.push_back(hxhost::make_text(fuzzkit::temp_file("in.txt")));
    owned.push_back(hxhost::make_text(index_path));
    owned.push_back(hxhost::make_double(0));
    owned.push_back(hxhost::make_numeric<std::uint32_t>(haUINT32_CLASS, {count}));
    owned.push_back(hxhost::make_logical(o.wide));
    if (o.wide) {
        owned.push_back(hxhost::make_numeric<std::uint64_t>(haUINT64_CLASS, offsets));
    } else {
        std::vector<std::uint32_t> narrow(offsets.begin(), offsets.end());
        owned.push_back(hxhost::make_numeric<std::uint32_t>(haUINT32_CLASS, narrow));
    }
    std::vector<const haArray*> inputs;
    for (const auto& a : owned)
        inputs.push_back(a.get());

    const std::string what = std::string(feature.indexer) + " " + feature.name;
    const long arrays_before = hxhost::live_arrays();
    const int fds_before = hxhost::open_fd_count();
    hxhost::CallOptions call;
    call.interrupt_at = o.stop_at_poll;
    const hxhost::CallResult r = plugin().call(0, inputs, call);
    hxhost::clear_interrupt();
    if (r.foreign_exception)
        fuzzkit::fail(what + ": a foreign exception escaped the plug-in: " + r.message);
    if (hxhost::open_fd_count() != fds_before)
        fuzzkit::fail(what + ": the call left a file open (" + r.identifier + ")");
    if (hxhost::live_arrays() != arrays_before)
        fuzzkit::fail(what + ": the call left arrays alive");
    const std::string index = fuzzkit::read_file(index_path);
    if (index.compare(0, kOldIndex.size(), kOldIndex) != 0)
        fuzzkit::fail(what + ": the index file's earlier bytes changed");
    if (r.ok && index.size() != kOldIndex.size() + std::size_t{count} * feature.width)
        fuzzkit::fail(what + ": appended " + std::to_string(index.size() - kOldIndex.size()) +
                      " bytes for " + std::to_string(count) + " entries");
    if (!r.ok && r.identifier == "helixo:traitmark:IterruptedByUser" &&
        index.size() != kOldIndex.size())
        fuzzkit::fail(what + ": a stopped call left values behind");
    if (!r.ok && r.identifier.rfind("helixo:traitmark:", 0) != 0)
        fuzzkit::fail(what + ": an error outside the plug-in's namespace: " + r.identifier);
    if (index.size() != kOldIndex.size() &&
        truncate(index_path.c_str(), static_cast<off_t>(kOldIndex.size())) != 0)
        fuzzkit::fail("cannot cut " + index_path + " back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzkit::Bytes in(data, size);
    const Options o = options_from(in);
    const std::string text = in.rest();
    fuzzkit::write_file(fuzzkit::temp_file("in.txt"), text.data(), text.size());
    for (const Feature& feature : kFeatures)
        extract_once(feature, text, o);
    return 0;
}
