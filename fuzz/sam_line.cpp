// The SAM line checks (alignport/sam_line_checks.h) and the library's reading of what they pass.
// The input is SAM text: the lines at its start that begin with '@' go through the header
// checker, the others (less a CR before the LF and the separators the library skips before a
// record) through check_sam_line, each from a buffer exactly its length, so a read past the line
// is caught. A refusal must come with a terminated reason. When the header passes, the record
// lines that pass and whose reference names the header can resolve are written with the header
// to a SAM file that the library then reads: every one of them must come back as a record that
// the BAM record checks accept.
#include "bam_checks.h"
#include "fuzzkit.h"
#include "sam_line_checks.h"

#include <samtools/sam.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

bool is_separator(char c) {
    return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::vector<std::string> split(const std::string& text, char on) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(on, from)) != std::string::npos; from = at + 1)
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

void check_problem(const alignport::SamLineProblem& problem, const std::string& line) {
    if (std::memchr(problem.reason, 0, sizeof problem.reason) == nullptr || problem.reason[0] == 0)
        fuzzkit::fail("a refused line without a terminated reason: " + line);
}

// The SN of each @SQ line (the header checker has made sure there is exactly one).
void note_reference(const std::string& line, std::set<std::string>& names) {
    if (line.compare(0, 4, "@SQ\t") != 0)
        return;
    for (const std::string& field : split(line, '\t')) {
        if (field.compare(0, 3, "SN:") == 0)
            names.insert(field.substr(3));
    }
}

// The library turns a name it cannot find into '*' with a warning, or exits when the header
// has no references at all; only lines it can resolve are handed to it.
bool names_resolve(const std::string& line, const std::set<std::string>& names) {
    const std::vector<std::string> fields = split(line, '\t');
    if (fields.size() < 7)
        return false;
    const std::string& rname = fields[2];
    const std::string& rnext = fields[6];
    return (rname == "*" || names.count(rname) != 0) &&
           (rnext == "*" || rnext == "=" || names.count(rnext) != 0);
}

struct SamCloser {
    void operator()(samfile_t* f) const { samclose(f); }
};
struct RecordFree {
    void operator()(bam1_t* b) const { bam_destroy1(b); }
};

void read_back(const std::string& text, std::size_t records) {
    const std::string path = fuzzkit::temp_file("in.sam");
    fuzzkit::write_file(path, text.data(), text.size());
    std::unique_ptr<samfile_t, SamCloser> in(samopen(path.c_str(), "r", nullptr));
    if (in == nullptr || in->header == nullptr)
        fuzzkit::fail("the library cannot open a SAM text whose lines all passed");
    std::unique_ptr<bam1_t, RecordFree> b(bam_init1());
    for (std::size_t k = 0; k < records; ++k) {
        const int got = samread(in.get(), b.get());
        if (got < 0)
            fuzzkit::fail("the library did not read record " + std::to_string(k + 1) +
                          " of lines that all passed");
        if (!alignport::record_is_valid(b->core, b->data, b->data_len, in->header->n_targets))
            fuzzkit::fail("the library made a malformed record of line " + std::to_string(k + 1));
    }
}

// Every text handed to the library starts with this reference, so that the library never meets
// a header without one (it warns on each, and exits on a record that names a reference).
const std::string kFirstReference = "@SQ\tSN:fuzz0\tLN:1000";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    bam_verbose = 1; // no note of the header's size on every open
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines = split(input, '\n');
    alignport::SamHeaderChecker header;
    std::set<std::string> names;
    if (!header.check_line(kFirstReference.data(), kFirstReference.size(), nullptr))
        fuzzkit::fail("the header checker refuses " + kFirstReference);
    note_reference(kFirstReference, names);
    std::string accepted = kFirstReference + "\n";
    bool header_sound = true;
    std::size_t k = 0;
    for (; k < lines.size() && !lines[k].empty() && lines[k][0] == '@'; ++k) {
        std::string& line = lines[k];
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<char> exact(line.begin(), line.end());
        alignport::SamLineProblem problem;
        if (header.check_line(exact.data(), exact.size(), &problem)) {
            note_reference(line, names);
            accepted += line + "\n";
        } else {
            check_problem(problem, line);
            header_sound = false;
        }
    }
    std::size_t records = 0;
    for (; k < lines.size(); ++k) {
        std::string line = lines[k];
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t start = 0;
        while (start < line.size() && is_separator(line[start]))
            ++start;
        line.erase(0, start);
        if (line.empty())
            continue;
        const std::vector<char> exact(line.begin(), line.end());
        alignport::SamLineProblem problem;
        if (!alignport::check_sam_line(exact.data(), exact.size(), &problem)) {
            check_problem(problem, line);
        } else if (header_sound && names_resolve(line, names) &&
                   !(records == 0 && line[0] == '@')) {
            // A record line beginning with '@' straight after the header would be read as a
            // header line: only a later one stays a record.
            accepted += line + "\n";
            ++records;
        }
    }
    if (header_sound && records > 0)
        read_back(accepted, records);
    return 0;
}
