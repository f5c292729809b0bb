// Seeds of the bai_index target, written at build time into the folder given as the argument:
// the eight fact bytes of a small BAM (references, end-of-file block, naming, first record,
// compressed size) and a BAI for it, encoded here byte by byte from the index layout.
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
void put64(Bytes& out, std::uint64_t v) {
    put32(out, static_cast<std::uint32_t>(v));
    put32(out, static_cast<std::uint32_t>(v >> 32));
}

// A virtual offset: the block's byte position in the file and the offset inside the block.
std::uint64_t voffset(std::uint64_t block, std::uint64_t within) {
    return block << 16 | within;
}

constexpr std::uint64_t kFirstBlock = 120;
constexpr std::uint64_t kCompressedSize = 3000;

struct Chunk {
    std::uint64_t begin, end;
};
struct Bin {
    std::uint32_t number;
    std::vector<Chunk> chunks;
};
struct Reference {
    std::vector<Bin> bins;
    std::vector<std::uint64_t> linear;
    bool meta; // the statistics pseudo-bin 37450 the library writes
};

Bytes bai(const std::vector<Reference>& refs, bool unplaced_count) {
    Bytes out = "BAI\1";
    put32(out, static_cast<std::uint32_t>(refs.size()));
    for (const Reference& r : refs) {
        put32(out, static_cast<std::uint32_t>(r.bins.size() + (r.meta ? 1 : 0)));
        for (const Bin& b : r.bins) {
            put32(out, b.number);
            put32(out, static_cast<std::uint32_t>(b.chunks.size()));
            for (const Chunk& c : b.chunks) {
                put64(out, c.begin);
                put64(out, c.end);
            }
        }
        if (r.meta) {
            put32(out, 37450);
            put32(out, 2);
            put64(out, voffset(kFirstBlock, 0));
            put64(out, voffset(kFirstBlock, 900));
            put64(out, 12); // mapped
            put64(out, 1);  // unmapped
        }
        put32(out, static_cast<std::uint32_t>(r.linear.size()));
        for (std::uint64_t v : r.linear)
            put64(out, v);
    }
    if (unplaced_count)
        put64(out, 3);
    return out;
}

Bytes facts(int references, bool complete, int naming) {
    Bytes out(1, static_cast<char>(references | (complete ? 4 : 0) | naming << 3));
    put32(out, static_cast<std::uint32_t>(voffset(kFirstBlock, 0)));
    out.push_back(static_cast<char>(kCompressedSize & 0xff));
    out.push_back(static_cast<char>(kCompressedSize >> 8));
    out.push_back('\0');
    return out;
}

void write(const std::string& folder, const std::string& name, const Bytes& bytes) {
    fuzzkit::write_file(folder + "/" + name, bytes.data(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bai_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const Reference first{{{4681, {{voffset(kFirstBlock, 0), voffset(kFirstBlock, 600)}}},
                           {4682, {{voffset(kFirstBlock, 600), voffset(1500, 40)}}}},
                          {voffset(kFirstBlock, 0), voffset(kFirstBlock, 600), 0},
                          true};
    const Reference second{{{0, {{voffset(1500, 40), voffset(2900, 0)}}},
                            {37448, {{voffset(2900, 0), voffset(2900, 100)}}}},
                           {0, voffset(1500, 40)},
                           false};
    const Reference empty{{}, {}, false};
    write(folder, "one-reference", facts(1, true, 0) + bai({first}, false));
    write(folder, "two-references-unplaced-count", facts(2, true, 0) + bai({first, second}, true));
    write(folder, "three-references-one-empty",
          facts(3, true, 0) + bai({first, empty, second}, false));
    write(folder, "other-name", facts(2, true, 1) + bai({first, second}, false));
    write(folder, "library-lookup", facts(2, true, 2) + bai({first, second}, false));
    write(folder, "no-end-of-file-block", facts(1, false, 0) + bai({first}, false));
    write(folder, "no-references", facts(0, true, 0) + bai({}, false));
    return 0;
}
