// Shared helpers of the traitmark tests: entry offsets found by scanning test text for its
// line starts, a call with the nine inputs, and the block that a call appended, decoded.
#pragma once

#include "testkit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tmkit {

// Byte offsets of the starts of the lines of text (a final line feed starts no line).
std::vector<std::uint64_t> line_starts(const std::string& text);
// Offsets of the lines that begin with prefix (FASTA ">" headers, say).
std::vector<std::uint64_t> starts_of_lines_beginning(const std::string& text,
                                                     const std::string& prefix);

// The nine inputs of a call; offsets go in as uint64 when wide, else cut to uint32.
testkit::Inputs call_inputs(const std::string& indexer, const std::string& feature,
                            const std::string& input_path, const std::string& index_path,
                            std::uint32_t count, const std::vector<std::uint64_t>& offsets,
                            bool wide, const std::string& feature_type = "uint32");

struct Appended {
    hxhost::CallResult result;
    std::string block;        // bytes that the call added after the index file's earlier content
    bool prefix_kept = false; // the earlier content is still there, unchanged
};

// Writes text as the input file and an index file holding a few bytes, runs the feature over
// the entries at offsets and returns what was appended. Unless count is given, N is the number
// of offsets ("fasta": one less, the last offset ending the last entry).
Appended run_feature(const testkit::TempDir& dir, const std::string& indexer,
                     const std::string& feature, const std::string& text,
                     const std::vector<std::uint64_t>& offsets, bool wide = false, long count = -1,
                     const hxhost::CallOptions& options = {});

// Little-endian values of width bytes each.
std::vector<std::uint32_t> decode(const std::string& block, unsigned width);

// Runs run_feature and expects success; returns the decoded values.
std::vector<std::uint32_t> values_of_feature(const std::string& indexer, const std::string& feature,
                                             const std::string& text,
                                             const std::vector<std::uint64_t>& offsets,
                                             unsigned width, bool wide = false);

// Width in bytes of each feature's values.
unsigned width_of(const std::string& feature, const std::string& indexer = "sam");

} // namespace tmkit

namespace tmkit {

// A seeded, coordinate-sorted SAM text with a header: pairs of reads whose mates lie far
// apart, pairs that share a QNAME with another pair, reads whose flags exclude them from
// pairing, CIGARs of every accepted operation (sequence lengths to match) and unmapped reads
// at the end. Every line is one alignment after the header lines.
std::string paired_sam(unsigned seed, int pairs);

// Lines of text that do not begin with "@": the alignment lines' offsets.
std::vector<std::uint64_t> alignment_starts(const std::string& text);

// Runs /usr/bin/python3 with the script and arguments; false when python3 or pysam is
// missing (the check is then skipped), otherwise the script's standard output.
bool run_pysam(const std::string& script, const std::string& argument, std::string& output);

} // namespace tmkit
