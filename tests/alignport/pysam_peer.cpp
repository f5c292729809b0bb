#include "peers.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace peers {

namespace {

const char kScript[] = R"(import sys, pysam
f = pysam.AlignmentFile(sys.argv[1], "rb", index_filename=sys.argv[1] + ".bai")
out = open(sys.argv[3], "w")
for a in f.fetch(f.references[int(sys.argv[2])]):
    end = a.reference_end if a.cigartuples else a.reference_start + 1
    q = a.query_qualities
    qual = "".join(chr(v + 33) for v in q) if q is not None else ""
    out.write("\t".join(str(v) for v in [a.flag, a.reference_start + 1, a.mapping_quality,
              a.next_reference_start + 1, a.query_length, end, a.cigarstring or "*",
              a.query_sequence or "", a.query_name, qual]) + "\n")
)";

std::uint32_t to_u32(const std::string& s) {
    return static_cast<std::uint32_t>(std::stoul(s));
}

} // namespace

std::vector<PeerAlignment> pysam_fetch(const testkit::TempDir& dir, const std::string& bam,
                                       int ref) {
    const std::string script = dir.write_text("peer_fetch.py", kScript);
    const std::string out = dir.file("peer_fetch.tsv");
    // Debian's interpreter is the one that has python3-pysam.
    const char* python = testkit::file_exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const std::string command = std::string(python) + " '" + script + "' '" + bam + "' " +
                                std::to_string(ref) + " '" + out + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<PeerAlignment> all;
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream s(line);
        std::string field;
        while (std::getline(s, field, '\t'))
            f.push_back(field);
        f.resize(10);
        PeerAlignment a;
        a.flag = to_u32(f[0]);
        a.position = to_u32(f[1]);
        a.mapping_quality = to_u32(f[2]);
        a.mate_position = to_u32(f[3]);
        a.query_length = to_u32(f[4]);
        a.end_position = to_u32(f[5]);
        a.cigar = f[6];
        a.sequence = f[7];
        a.name = f[8];
        a.quality = f[9];
        all.push_back(a);
    }
    return all;
}

} // namespace peers
