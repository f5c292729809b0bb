// Independent peers for the alignport suites: samtools 1.x run as a command, and the small
// SAM text rules (columns, reference span) computed from the text alone.
#pragma once

#include "bamkit.h"

#include <cstdio>
#include <string>
#include <vector>

namespace peers {

// Standard output of a shell command; fails the test when it does not exit with 0.
inline std::string run(const std::string& command) {
    int status = 0;
    std::string out = testkit::run_command(command, &status);
    EXPECT_EQ(status, 0) << command;
    return out;
}

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

// `samtools view FILE REGION` (no header lines).
inline std::string samtools_view(const std::string& bam, const std::string& region = "") {
    return run("samtools view " + quoted(bam) + (region.empty() ? "" : " " + quoted(region)));
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

} // namespace peers
