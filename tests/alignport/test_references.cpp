#include "bamkit.h"

using namespace testkit;

namespace {

class References : public ::testing::Test {
protected:
    TempDir dir;
    std::string bam = bamkit::make_bam(
        dir, "refs",
        bamkit::sam_header({{"chr1", 1000}, {"chr2", 2000}, {"chr3", 3000}, {"my:ref", 40}}) +
            "r1\t0\tchr1\t10\t30\t5M\t*\t0\t0\tACGTA\tIIIII\n");
};

TEST_F(References, GetHeaderReturnsTextNamesAndLengths) {
    auto r = call("alignport", 3, args("getheader", bam));
    ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
    EXPECT_NE(hxhost::text_of(r.outputs[0].get()).find("@SQ\tSN:chr2\tLN:2000"), std::string::npos);
    ASSERT_EQ(hxhost::dims_of(r.outputs[1].get()), (std::vector<haSize>{4, 1}));
    EXPECT_EQ(hxhost::text_of(haGetCell(r.outputs[1].get(), 2)), "chr3");
    EXPECT_EQ(hxhost::values_of<std::uint32_t>(r.outputs[2].get()),
              (std::vector<std::uint32_t>{1000, 2000, 3000, 40}));
}

} // namespace
