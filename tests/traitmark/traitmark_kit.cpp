#include "traitmark_kit.h"

namespace tmkit {

namespace {
const char kIndexPrefix[] = "IDX\0head\n";
} // namespace

std::vector<std::uint64_t> line_starts(const std::string& text) {
    std::vector<std::uint64_t> starts;
    std::uint64_t at = 0;
    while (at < text.size()) {
        starts.push_back(at);
        const std::size_t feed = text.find('\n', at);
        if (feed == std::string::npos)
            break;
        at = feed + 1;
    }
    return starts;
}

std::vector<std::uint64_t> starts_of_lines_beginning(const std::string& text,
                                                    const std::string& prefix) {
    std::vector<std::uint64_t> starts;
    for (std::uint64_t at : line_starts(text)) {
        if (text.compare(at, prefix.size(), prefix) == 0)
            starts.push_back(at);
    }
    return starts;
}

testkit::Inputs call_inputs(const std::string& indexer, const std::string& feature,
                            const std::string& input_path, const std::string& index_path,
                            std::uint32_t count, const std::vector<std::uint64_t>& offsets,
                            bool wide, const std::string& feature_type) {
    std::vector<std::uint32_t> narrow;
    for (std::uint64_t o : offsets)
        narrow.push_back(static_cast<std::uint32_t>(o));
    return testkit::args(indexer, feature, feature_type, input_path, index_path,
                         hxhost::make_double(0), testkit::u32({count}),
                         hxhost::make_logical(wide),
                         wide ? testkit::u64(offsets) : testkit::u32(narrow));
}

Appended run_feature(const testkit::TempDir& dir, const std::string& indexer,
                     const std::string& feature, const std::string& text,
                     const std::vector<std::uint64_t>& offsets, bool wide, long count,
                     const hxhost::CallOptions& options) {
    const std::string prefix(kIndexPrefix, sizeof kIndexPrefix - 1);
    const std::string input = dir.write_text("input.txt", text);
    const std::string index = dir.write_text("input.idx", prefix);
    const long entries = static_cast<long>(offsets.size()) - (indexer == "fasta" ? 1 : 0);
    const auto n = static_cast<std::uint32_t>(count < 0 ? entries : count);
    Appended out;
    out.result = testkit::call("traitmark", 0,
                               call_inputs(indexer, feature, input, index, n, offsets, wide),
                               options);
    const std::string after = testkit::read_file(index);
    out.prefix_kept = after.compare(0, prefix.size(), prefix) == 0;
    if (after.size() >= prefix.size())
        out.block = after.substr(prefix.size());
    return out;
}

std::vector<std::uint32_t> decode(const std::string& block, unsigned width) {
    std::vector<std::uint32_t> values;
    for (std::size_t at = 0; at + width <= block.size(); at += width) {
        std::uint32_t v = 0;
        for (unsigned k = 0; k < width; ++k)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(block[at + k])) << (8 * k);
        values.push_back(v);
    }
    return values;
}

std::vector<std::uint32_t> values_of_feature(const std::string& indexer,
                                             const std::string& feature,
                                             const std::string& text,
                                             const std::vector<std::uint64_t>& offsets,
                                             unsigned width, bool wide) {
    testkit::TempDir dir;
    Appended out = run_feature(dir, indexer, feature, text, offsets, wide);
    EXPECT_TRUE(out.result.ok) << out.result.identifier << ": " << out.result.message;
    EXPECT_TRUE(out.prefix_kept);
    const std::size_t entries = offsets.size() - (indexer == "fasta" ? 1 : 0);
    EXPECT_EQ(out.block.size(), entries * width) << "the block holds one value per entry";
    return decode(out.block, width);
}

unsigned width_of(const std::string& feature, const std::string& indexer) {
    if (feature == "Flag" || feature == "QueryLength")
        return 2;
    if (feature == "MappingQuality" || feature == "Reference")
        return 1;
    if (feature == "Length")
        return indexer == "fasta" ? 4 : 2;
    return 4;
}

} // namespace tmkit
