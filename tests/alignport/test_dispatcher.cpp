// The dispatcher: its error table in order, what it consumes per service kind, and that every
// call leaves no descriptor or array behind (checked by testkit::call).
#include "bamkit.h"
#include "error_order.h"

#include <filesystem>
#include <utility>

using namespace testkit;

namespace {

const char* const kServices[] = {"validatereferencestring",
                                 "getnumberofreferences",
                                 "getreferencestring",
                                 "getstartsinref",
                                 "getfeatureinrefbyindex",
                                 "getfeaturesinrefbyindex",
                                 "indexbamfile",
                                 "sam2bam",
                                 "bam2bam",
                                 "bamsort",
                                 "baminfo",
                                 "saminfo",
                                 "getheader",
                                 "writesambyregion",
                                 "writesamunaligned",
                                 "dumpinfobyregion",
                                 "dumpinfobyindex",
                                 "dumpinfoinrefbyindex",
                                 "dumpstartsinfo"};
const char* const kIndexed[] = {
    "getstartsinref",   "getfeatureinrefbyindex", "getfeaturesinrefbyindex", "writesambyregion",
    "dumpinfobyregion", "dumpinfobyindex",        "dumpinfoinrefbyindex"};

class Dispatcher : public ::testing::Test {
protected:
    TempDir dir;
    std::string bam = bamkit::make_bam(dir, "d",
                                       bamkit::sam_header({{"chr1", 1000}, {"chr2", 500}}) +
                                           "a\t0\tchr1\t10\t30\t5M\t*\t0\t0\tACGTA\tIIIII\n"
                                           "b\t0\tchr2\t20\t30\t5M\t*\t0\t0\tACGTA\tIIIII\n");
    std::string bai = bam + ".bai";
};

const char* const kUnknown = "helixo:alignport:UnknownServiceType";
const char* const kInvalid = "helixo:alignport:InvalidServiceType";
const char* const kInputCount = "helixo:alignport:InvalidNumInputArg";
const char* const kInputCountText = "Invalid number of input arguments required.";

// The checks made before any service runs, in their order: the input count, the service name
// (a text shorter than its buffer, then a service of exactly that name), the BAM file's name and
// the file itself. Service names match only whole and exactly.
TEST_F(Dispatcher, ErrorsComeInTheOrderOfTheChecks) {
    std::vector<ErrorRow> rows;
    rows.push_back(error_row("NoInputAtAll", 0, Inputs(), kInputCount, kInputCountText));
    for (const char* service : kServices)
        rows.push_back(error_row(std::string(service) + " with only its name", 0, args(service),
                                 kInputCount, kInputCountText));
    for (ErrorRow& row : error_rows(
             error_row("NumericName", 0, args(3.0, bam), kInvalid, "Invalid service type."),
             error_row("NameInACell", 0, args(cell_of({"getheader"}), bam), kInvalid,
                       "Invalid service type."),
             error_row("ExactlyBufferSize", 0, args(std::string(256, 'x'), bam), kInvalid,
                       "Invalid service type."),
             error_row("ThreeHundred", 0, args(std::string(300, 'g'), bam), kInvalid,
                       "Invalid service type."),
             error_row("UpperCase", 0, args("GetHeader", bam), kUnknown, "Unknown service type."),
             error_row("TrailingBlank", 0, args("getheader ", bam), kUnknown,
                       "Unknown service type."),
             error_row("LeadingBlank", 0, args(" getheader", bam), kUnknown,
                       "Unknown service type."),
             error_row("ExtraLetter", 0, args("getheaders", bam), kUnknown,
                       "Unknown service type."),
             error_row("Prefix", 0, args("getheade", bam), kUnknown, "Unknown service type."),
             error_row("Empty", 0, args("", bam), kUnknown, "Unknown service type."),
             error_row("LongestThatFits", 0, args(std::string(255, 'x'), bam), kUnknown,
                       "Unknown service type."),
             error_row("NumericBamName", 1, args("getnumberofreferences", 1.0),
                       "helixo:alignport:InvalidFileName", "Invalid BAM file name."),
             error_row("MissingBam", 1, args("getnumberofreferences", dir.file("none.bam")),
                       "helixo:alignport:CannotOpenInFile", "Could not open BAM file."),
             // SAM text is not BAM: the library hands back a handle without a header.
             error_row("SamTextAsBam", 1, args("getnumberofreferences", dir.file("d.sam")),
                       "helixo:alignport:CannotOpenInFile", "Could not open BAM file."),
             error_row("TruncatedBam", 1,
                       args("getnumberofreferences",
                            dir.write_text("t.bam", read_file(bam).substr(0, 20))),
                       "helixo:alignport:CannotOpenInFile", "Could not open BAM file.")))
        rows.push_back(std::move(row));
    expect_errors_in_order("alignport", rows);
}

TEST_F(Dispatcher, LeavesInputTwoOfSelfOpeningServicesToTheService) {
    // A 300-character name fails the dispatcher's 256-byte buffer but fits getheader's own.
    std::string deep = dir.path();
    while (deep.size() < 280)
        deep += "/" + std::string(40, 'd');
    std::filesystem::create_directories(deep);
    const std::string long_name = deep + "/sample.bam";
    std::filesystem::copy_file(bam, long_name);
    ASSERT_GE(long_name.size(), 256u);
    ASSERT_LT(long_name.size(), 512u);
    auto r = call("alignport", 1, args("getheader", long_name));
    ASSERT_TRUE(r.ok) << r.identifier;
    EXPECT_HX_ERROR(call("alignport", 1, args("getnumberofreferences", long_name)),
                    "helixo:alignport:InvalidFileName", "Invalid BAM file name.");
    // A numeric input 2 reaches the self-opening service too.
    EXPECT_HX_ERROR(call("alignport", 0, args("getheader", 5.0)),
                    "helixo:alignport:InvalidFileName", "Invalid BAM file name.");
}

class IndexedService : public Dispatcher, public ::testing::WithParamInterface<const char*> {};

TEST_P(IndexedService, OpensTheBamBeforeCountingTheIndexInput) {
    EXPECT_HX_ERROR(call("alignport", 0, args(GetParam(), dir.file("missing.bam"))),
                    "helixo:alignport:CannotOpenInFile", "Could not open BAM file.");
    EXPECT_HX_ERROR(call("alignport", 0, args(GetParam(), bam)),
                    "helixo:alignport:InvalidNumInputArg",
                    "Invalid number of input arguments required.");
}

TEST_P(IndexedService, RejectsBadIndexNamesAndMissingIndexes) {
    EXPECT_HX_ERROR(call("alignport", 0, args(GetParam(), bam, 2.0)),
                    "helixo:alignport:InvalidFileName", "Invalid BAI file name.");
    EXPECT_HX_ERROR(call("alignport", 0, args(GetParam(), bam, std::string(256, 'i'))),
                    "helixo:alignport:InvalidFileName", "Invalid BAI file name.");
    EXPECT_HX_ERROR(call("alignport", 0, args(GetParam(), bam, dir.file("none.bai"))),
                    "helixo:alignport:BAMIndexMissing",
                    "BAM indexing file (BAI) is not available or is corrupt.");
}

TEST_P(IndexedService, HandsTheOpenFileAndIndexToTheService) {
    // Whatever the service then says, it is the service speaking, not the dispatcher.
    for (const std::string& index : {bai, bam}) {
        auto r = call("alignport", 0, args(GetParam(), bam, index));
        if (!r.ok) {
            EXPECT_EQ(r.identifier.rfind(std::string("helixo:alignport:") + GetParam() + ":", 0),
                      0u)
                << index << ": " << r.identifier;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllIndexed, IndexedService, ::testing::ValuesIn(kIndexed));

// The index input names the BAI file itself, whatever its name.
TEST_F(Dispatcher, LoadsAnIndexByItsExactNameOrThroughTheLibraryLookup) {
    const std::string renamed = dir.file("index-of-d.idx");
    std::filesystem::copy_file(bai, renamed);
    const std::string other = dir.file("elsewhere.bai");
    std::filesystem::copy_file(bai, other);
    for (const std::string& index : {bai, renamed, other, bam}) {
        auto r = call("alignport", 0, args("getstartsinref", bam, index));
        EXPECT_NE(r.identifier, "helixo:alignport:BAMIndexMissing") << index;
    }
    // The BAM beside a renamed index is not found by the lookup.
    const std::string lonely = dir.file("lonely.bam");
    std::filesystem::copy_file(bam, lonely);
    EXPECT_HX_ERROR(call("alignport", 0, args("getstartsinref", lonely, lonely)),
                    "helixo:alignport:BAMIndexMissing",
                    "BAM indexing file (BAI) is not available or is corrupt.");
}

TEST_F(Dispatcher, ReportsDamagedIndexesAsMissing) {
    const std::string whole = read_file(bai);
    ASSERT_GT(whole.size(), 16u);
    std::vector<std::string> damaged = {whole.substr(0, 6), whole.substr(0, whole.size() / 2),
                                        "BAI\1" + std::string(4, '\xff')};
    // An index made for a file with fewer references than this header.
    damaged.push_back(
        read_file(bamkit::make_bam(dir, "one",
                                   bamkit::sam_header({{"chr1", 1000}}) +
                                       "a\t0\tchr1\t10\t30\t5M\t*\t0\t0\tACGTA\tIIIII\n") +
                  ".bai"));
    for (std::size_t k = 0; k < damaged.size(); ++k) {
        const std::string path = dir.write_text("bad" + std::to_string(k) + ".bai", damaged[k]);
        SCOPED_TRACE("case " + std::to_string(k));
        EXPECT_HX_ERROR(call("alignport", 0, args("getstartsinref", bam, path)),
                        "helixo:alignport:BAMIndexMissing",
                        "BAM indexing file (BAI) is not available or is corrupt.");
    }
}

} // namespace
