// Independent peers for the alignport suites: samtools 1.16 run as a command, pysam (htslib 1.16)
// run as a script, and the small SAM text rules (columns, reference span) computed from the text
// alone. The plug-in's output is compared with what these give.
#pragma once

#include "bamkit.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace peers {

// Standard output of a shell command (its last command's standard error is discarded); fails the
// test when it does not exit with 0.
inline std::string run(const std::string& command) {
    int status = 0;
    std::string out = testkit::run_command(command + " 2>/dev/null", &status);
    EXPECT_EQ(status, 0) << "peer command failed: " << command;
    return out;
}

inline std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

// `samtools view FILE REGION` (no header lines).
inline std::string samtools_view(const std::string& bam, const std::string& region = "") {
    return run("samtools view " + quoted(bam) + (region.empty() ? "" : " " + quoted(region)));
}

// `samtools view OPTIONS FILE`: the alignment lines of a SAM or BAM file as samtools prints them.
inline std::string view(const std::string& path, const std::string& options = "") {
    return run("samtools view " + options + " " + quoted(path));
}

inline std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto at = text.find(sep, start);
        if (at == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines = split(text, '\n');
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

// The tab-separated fields of a SAM line.
inline std::vector<std::string> fields_of(const std::string& line) {
    return split(line, '\t');
}

// Joins lines back into text, each ending in a newline.
inline std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// Reference bases of a CIGAR text: the lengths of its M, D, N, = and X operations.
inline long cigar_span(const std::string& cigar) {
    long span = 0, number = 0;
    for (char c : cigar) {
        if (c >= '0' && c <= '9') {
            number = number * 10 + (c - '0');
            continue;
        }
        if (c == 'M' || c == 'D' || c == 'N' || c == '=' || c == 'X')
            span += number;
        number = 0;
    }
    return span;
}

// The first eleven columns of a SAM line.
inline std::string mandatory_columns(const std::string& line) {
    const std::vector<std::string> cols = split(line, '\t');
    std::string out;
    for (std::size_t k = 0; k < cols.size() && k < 11; ++k)
        out += (k ? "\t" : "") + cols[k];
    return out;
}

struct PeerAlignment {
    std::uint32_t flag = 0;
    std::uint32_t position = 0; // reference_start + 1
    std::uint32_t mapping_quality = 0;
    std::uint32_t mate_position = 0; // next_reference_start + 1
    std::uint32_t query_length = 0;
    std::uint32_t end_position = 0; // reference_end (start + 1 without a CIGAR)
    std::string cigar;              // "*" without operations
    std::string sequence;
    std::string name;
    std::string quality; // Phred + 33; empty when the record has none
};

// Every alignment that pysam's fetch of reference number ref delivers, in delivery order.
std::vector<PeerAlignment> pysam_fetch(const testkit::TempDir& dir, const std::string& bam,
                                       int ref);

// Column of one field of the peer's alignments.
template <class F> auto column(const std::vector<PeerAlignment>& all, F field) {
    std::vector<decltype(field(all.front()))> values;
    for (const PeerAlignment& a : all)
        values.push_back(field(a));
    return values;
}

} // namespace peers
