#include "damaged_bam.h"

namespace damaged {

std::string truncated_copy(const testkit::TempDir& dir, const std::string& bam,
                           const std::string& name, double fraction, Cut cut) {
    const std::string bytes = testkit::read_file(bam);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const auto target = static_cast<std::size_t>(static_cast<double>(bytes.size()) * fraction);
    // Each BGZF block carries its total size less one in bytes 16-17 of its header.
    std::size_t block = 0, length = 0;
    while (block + 18 <= bytes.size()) {
        length = (byte(block + 16) | (byte(block + 17) << 8)) + 1u;
        if (block + length > target)
            break;
        block += length;
    }
    EXPECT_GT(length, 28u) << "no data block at the cut";
    const std::string path = dir.write_text(
        name + ".bam", bytes.substr(0, cut == Cut::MidBlock ? block + length / 2 : block));
    dir.write_text(name + ".bam.bai", testkit::read_file(bam + ".bai"));
    return path;
}

} // namespace damaged
