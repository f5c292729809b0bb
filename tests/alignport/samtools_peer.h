// samtools 1.16 as an independent peer of the BAM library in the conversion, index and sort
// tests: its view of a file is what the plug-in's output is compared with.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace peer {

// Standard output of a shell command (standard error is discarded).
inline std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    EXPECT_EQ(pclose(pipe), 0) << "peer command failed: " << command;
    return out;
}

inline std::string quoted(const std::string& path) { return "'" + path + "'"; }

// The alignment lines of a SAM or BAM file as samtools prints them.
inline std::string view(const std::string& path, const std::string& options = "") {
    return run("samtools view " + options + " " + quoted(path));
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

inline std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t'))
        fields.push_back(field);
    return fields;
}

// Joins lines back into text, each ending in a newline.
inline std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

} // namespace peer
