// The BAI check of load_index (alignport/bam_layer.h) and the library's use of what it accepts.
// The input is eight bytes of facts about the BAM the index is for, then the BAI file's bytes:
//   byte 0:    bits 0-1 references in the BAM (0 to 3), bit 2 the BAM ends with its end-of-file
//              block, bits 3-4 how the index is named: 0 "in.bai" (loaded as named), 1 "in.idx"
//              (a BAI under another name, loaded through a private link), 2 "in" (the
//              library's own lookup finds in.bai), 3 as 0
//   bytes 1-4: the virtual offset of the first record, little-endian
//   bytes 5-6: the BAM's compressed size in bytes
//   byte 7:    unused
// An index load_index accepts is handed to the library, which must build a region iterator for
// every reference of the BAM and free the index without a fault or a leak.
#include "bam_layer.h"
#include "fuzzkit.h"

#include <samtools/bam.h>

#include <string>

namespace {

const int kRegions[][2] = {{0, 1 << 29}, {0, 1}, {16383, 16385}, {100000, 1000000}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzkit::Bytes in(data, size);
    const std::uint8_t flags = in.byte();
    alignport::BamFacts bam;
    bam.n_targets = flags & 3;
    bam.complete = (flags >> 2 & 1) != 0;
    bam.first_record_offset = in.u32();
    bam.compressed_size = std::uint64_t{in.byte()} | std::uint64_t{in.byte()} << 8;
    in.byte();
    const int naming = flags >> 3 & 3;
    const std::string file = fuzzkit::temp_file(naming == 1 ? "in.idx" : "in.bai");
    fuzzkit::write_file(file, in.data(), in.left());
    const std::string text = naming == 2 ? fuzzkit::temp_file("in") : file;

    const alignport::IndexPtr index = alignport::load_index(text.c_str(), bam);
    if (index != nullptr) {
        for (int tid = 0; tid < bam.n_targets; ++tid) {
            for (const auto& region : kRegions) {
                if (bam_iter_t iter = bam_iter_query(index.get(), tid, region[0], region[1]))
                    bam_iter_destroy(iter);
            }
        }
    }
    return 0;
}
