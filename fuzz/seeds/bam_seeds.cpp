// Seeds of the bam_checks target, written at build time into the folder given as the argument:
// small well-formed BAM streams and record lists, encoded here byte by byte from the record
// layout so that no seed depends on the code under test.
#include "fuzzkit.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::string;

void put32(Bytes& out, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
        out.push_back(static_cast<char>(v >> (8 * k) & 0xff));
}
void put16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

struct Record {
    std::string name;
    std::uint16_t flag;
    std::int32_t tid;
    std::int32_t pos;
    std::uint8_t mapq;
    std::vector<std::uint32_t> cigar; // length << 4 | op
    std::string seq;                  // ACGTN
    bool quality;                     // false: 0xff, as for "*"
    std::int32_t mtid;
    std::int32_t mpos;
    std::int32_t isize;
    Bytes aux;
};

std::uint32_t op(std::uint32_t length, char code) {
    const std::string codes = "MIDNSHP=X";
    return length << 4 | static_cast<std::uint32_t>(codes.find(code));
}

int nt16(char base) {
    const std::string codes = "=ACMGRSVTWYHKDBN";
    const std::size_t at = codes.find(base);
    return at == std::string::npos ? 15 : static_cast<int>(at);
}

Bytes encode(const Record& r) {
    Bytes data = r.name;
    data.push_back('\0');
    for (std::uint32_t c : r.cigar)
        put32(data, c);
    for (std::size_t k = 0; k < r.seq.size(); k += 2) {
        const int high = nt16(r.seq[k]);
        const int low = k + 1 < r.seq.size() ? nt16(r.seq[k + 1]) : 0;
        data.push_back(static_cast<char>(high << 4 | low));
    }
    for (std::size_t k = 0; k < r.seq.size(); ++k)
        data.push_back(static_cast<char>(r.quality ? 30 + k % 10 : 0xff));
    data += r.aux;
    Bytes out;
    put32(out, static_cast<std::uint32_t>(32 + data.size()));
    put32(out, static_cast<std::uint32_t>(r.tid));
    put32(out, static_cast<std::uint32_t>(r.pos));
    const std::uint32_t bin = 4681; // the bin value only has to be stored
    put32(out,
          bin << 16 | std::uint32_t{r.mapq} << 8 | static_cast<std::uint32_t>(r.name.size() + 1));
    put32(out, std::uint32_t{r.flag} << 16 | static_cast<std::uint32_t>(r.cigar.size()));
    put32(out, static_cast<std::uint32_t>(r.seq.size()));
    put32(out, static_cast<std::uint32_t>(r.mtid));
    put32(out, static_cast<std::uint32_t>(r.mpos));
    put32(out, static_cast<std::uint32_t>(r.isize));
    return out + data;
}

// Optional fields of every type the format knows, arrays of every subtype included.
Bytes every_aux_type() {
    Bytes a;
    a += "XAAz";
    a += "XCc";
    a.push_back(-5);
    a += "XDC";
    a.push_back(static_cast<char>(200));
    a += "XEs";
    put16(a, 0xfff0);
    a += "XFS";
    put16(a, 60000);
    a += "XGi";
    put32(a, 0x80000000u);
    a += "XHI";
    put32(a, 4000000000u);
    a += "XIf";
    put32(a, 0x3fc00000u); // 1.5
    a += "XJd";
    put32(a, 0);
    put32(a, 0x3ff80000u); // 1.5
    a += "XKZhello";
    a.push_back('\0');
    a += "XLH1AE3";
    a.push_back('\0');
    const std::string subtypes = "cCsSiIf";
    const int sizes[] = {1, 1, 2, 2, 4, 4, 4};
    for (std::size_t k = 0; k < subtypes.size(); ++k) {
        a += "Y";
        a.push_back(subtypes[k]);
        a += "B";
        a.push_back(subtypes[k]);
        put32(a, 2);
        a.append(static_cast<std::size_t>(2 * sizes[k]), static_cast<char>(k + 1));
    }
    a += "YzBc";
    put32(a, 0); // an empty array
    return a;
}

std::vector<Record> records() {
    std::vector<Record> rs;
    rs.push_back({"r1",
                  99,
                  0,
                  99,
                  60,
                  {op(4, 'M'), op(1, 'I'), op(3, 'M')},
                  "ACGTACGT",
                  true,
                  0,
                  199,
                  108,
                  "NMC\x01"});
    rs.push_back({"r1",
                  147,
                  0,
                  199,
                  60,
                  {op(2, 'S'), op(6, 'M'), op(5, 'D'), op(2, 'N')},
                  "TTGGCCAA",
                  true,
                  0,
                  99,
                  -108,
                  every_aux_type()});
    rs.push_back({"mate-elsewhere",
                  65,
                  1,
                  0,
                  0,
                  {op(3, '='), op(1, 'X'), op(2, 'H'), op(1, 'P')},
                  "GGGG",
                  false,
                  0,
                  5,
                  0,
                  {}});
    rs.push_back({"unplaced", 4, -1, -1, 0, {}, "NNNAC", false, -1, -1, 0, {}});
    rs.push_back({"empty", 4, -1, -1, 0, {}, "", false, -1, -1, 0, "RGZg1\0"});
    rs.back().aux.push_back('\0');
    return rs;
}

Bytes header(const std::vector<std::pair<std::string, std::uint32_t>>& refs,
             const std::string& text) {
    Bytes out = "BAM\1";
    put32(out, static_cast<std::uint32_t>(text.size()));
    out += text;
    put32(out, static_cast<std::uint32_t>(refs.size()));
    for (const auto& [name, length] : refs) {
        put32(out, static_cast<std::uint32_t>(name.size() + 1));
        out += name;
        out.push_back('\0');
        put32(out, length);
    }
    return out;
}

void write(const std::string& folder, const std::string& name, const Bytes& bytes) {
    fuzzkit::write_file(folder + "/" + name, bytes.data(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bam_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<Record> rs = records();
    Bytes all;
    for (const Record& r : rs)
        all += encode(r);
    const std::string text = "@HD\tVN:1.0\tSO:coordinate\n@SQ\tSN:chr1\tLN:1000\n"
                             "@SQ\tSN:chr2\tLN:500\n";
    const auto refs =
        std::vector<std::pair<std::string, std::uint32_t>>{{"chr1", 1000}, {"chr2", 500}};
    // Streams: selector 0, then the header and the records.
    write(folder, "stream-all", Bytes(1, '\0') + header(refs, text) + all);
    write(folder, "stream-header-only", Bytes(1, '\0') + header(refs, text));
    write(folder, "stream-no-references", Bytes(1, '\0') + header({}, "") + encode(rs[3]));
    write(folder, "stream-long-name",
          Bytes(1, '\0') + header({{std::string(254, 'n'), 7}}, "") + encode(rs[4]));
    // Records alone, against two references (selector 2 * (2 + 1) + 1) and unchecked (1).
    for (std::size_t k = 0; k < rs.size(); ++k)
        write(folder, "record-" + std::to_string(k), Bytes(1, '\x07') + encode(rs[k]));
    write(folder, "records-unchecked", Bytes(1, '\x01') + all);
    return 0;
}
