// The entry: input and output counts, every validation error in its order with the state it
// leaves the index file in, the decoding of the numeric inputs, and the outputs.
#include "error_order.h"
#include "indexkit.h"

#include <cmath>
#include <functional>
#include <sys/stat.h>

using namespace indexkit;
using testkit::TempDir;

namespace {

const std::string kOldIndex = "an index written by an earlier call";

hxhost::ArrayPtr number() {
    return testkit::num(7);
}
hxhost::ArrayPtr empty_text() {
    return hxhost::make_char({}, {0, 0});
}

class Entry : public ::testing::Test {
protected:
    TempDir dir;
    Request request(const std::string& text = ">a\nAC\n") {
        Request r;
        r.input = dir.write_text("in.fa", text);
        r.index = dir.write_text("out.idx", kOldIndex);
        return r;
    }
};

enum class Left { Untouched, Empty };

struct ValidationCase {
    const char* name;
    std::function<void(Request&, const TempDir&)> spoil;
    const char* identifier;
    const char* message;
    Left index;
};

using R = Request;
using D = const TempDir;

const ValidationCase kValidation[] = {
    {"TypeNotText", [](R& r, D&) { r.set(1, number); }, "helixo:flatmark:InvalidIndexerType",
     "Invalid indexer type.", Left::Untouched},
    {"TypeOf128Characters", [](R& r, D&) { r.type = std::string(128, 'f'); },
     "helixo:flatmark:InvalidIndexerType", "Invalid indexer type.", Left::Untouched},
    {"TypeOf127Characters", [](R& r, D&) { r.type = std::string(127, 'f'); },
     "helixo:flatmark:UnknownIndexerType", "Unknown indexer type.", Left::Untouched},
    {"TypeInUpperCase", [](R& r, D&) { r.type = "FASTA"; }, "helixo:flatmark:UnknownIndexerType",
     "Unknown indexer type.", Left::Untouched},
    {"TypeCapitalised", [](R& r, D&) { r.type = "Table"; }, "helixo:flatmark:UnknownIndexerType",
     "Unknown indexer type.", Left::Untouched},
    {"TypeWithTrailingBlank", [](R& r, D&) { r.type = "flat "; },
     "helixo:flatmark:UnknownIndexerType", "Unknown indexer type.", Left::Untouched},
    {"InputNameNotText", [](R& r, D&) { r.set(2, number); }, "helixo:flatmark:InvalidFileName",
     "Invalid input file name.", Left::Untouched},
    {"InputNameOf256Characters", [](R& r, D&) { r.input = std::string(256, 'x'); },
     "helixo:flatmark:InvalidFileName", "Invalid input file name.", Left::Untouched},
    {"InputFileMissing", [](R& r, D& d) { r.input = d.file("missing.fa"); },
     "helixo:flatmark:CannotOpenInFile", "Could not open input file.", Left::Untouched},
    {"IndexNameNotText", [](R& r, D&) { r.set(3, number); }, "helixo:flatmark:InvalidFileName",
     "Invalid index file name.", Left::Untouched},
    {"IndexNameOf256Characters", [](R& r, D&) { r.index = std::string(256, 'x'); },
     "helixo:flatmark:InvalidFileName", "Invalid index file name.", Left::Untouched},
    {"IndexFolderMissing", [](R& r, D& d) { r.index = d.file("no/such/folder.idx"); },
     "helixo:flatmark:CannotOpenIdxFile", "Could not open output index file.", Left::Untouched},
    {"KeyTokenNotText", [](R& r, D&) { r.set(8, number); }, "helixo:flatmark:InvalidCommentPrefix",
     "Invalid comment prefix.", Left::Empty},
    {"KeyTokenOf32768Characters", [](R& r, D&) { r.key_token = std::string(32768, 'k'); },
     "helixo:flatmark:InvalidCommentPrefix", "Invalid comment prefix.", Left::Empty},
    {"CommentPrefixNotText", [](R& r, D&) { r.set(9, number); },
     "helixo:flatmark:InvalidCommentPrefix", "Invalid comment prefix.", Left::Empty},
    {"HeaderPrefixNotText", [](R& r, D&) { r.set(10, number); },
     "helixo:flatmark:InvalidHeaderPrefix", "Invalid header prefix.", Left::Empty},
    {"HeaderPrefixOf32768Characters", [](R& r, D&) { r.header_prefix = std::string(32768, '#'); },
     "helixo:flatmark:InvalidHeaderPrefix", "Invalid header prefix.", Left::Empty},
    {"FieldDelimiterNotText", [](R& r, D&) { r.set(11, number); },
     "helixo:flatmark:InvalidFieldDelimiter", "Invalid field delimiter.", Left::Empty},
    {"FieldDelimiterEmpty", [](R& r, D&) { r.set(11, empty_text); },
     "helixo:flatmark:InvalidFieldDelimiter", "Invalid field delimiter.", Left::Empty},
    {"EntryDelimiterNotText", [](R& r, D&) { r.set(12, number); },
     "helixo:flatmark:InvalidEntryDelimiter", "Invalidentry delimiter.", Left::Empty},
    {"EntryDelimiterOf477Bytes", [](R& r, D&) { r.entry_delimiter = std::string(477, '/'); },
     "helixo:flatmark:InvalidEntryDelimiter", "Invalidentry delimiter.", Left::Empty},
    {"EntryDelimiterEmptyForFlat",
     [](R& r, D&) {
         r.type = "flat";
         r.entry_delimiter = "";
     },
     "helixo:flatmark:InvalidEntryDelimiter", "Invalidentry delimiter.", Left::Empty},
};

// The index file each row leaves: what an earlier call wrote, or emptied by the call.
testkit::ResultCheck index_left(const std::string& path, Left left) {
    return [path, left](const hxhost::CallResult&) {
        EXPECT_EQ(testkit::read_file(path), left == Left::Untouched ? kOldIndex : "");
    };
}

// The call with `count` inputs: the request's first ones, or empty texts after them.
testkit::Inputs inputs_counted(const Request& r, std::size_t count) {
    testkit::Inputs in = r.inputs();
    in.resize(count);
    for (auto& a : in) {
        if (!a)
            a = testkit::text("");
    }
    return in;
}

// The counts first, then the table above; each row's call starts from an index file written
// by an earlier call.
TEST_F(Entry, ValidationErrorsComeInTheOrderOfTheChecksLeavingTheIndexFileAsTheTableSays) {
    const std::string index = dir.file("out.idx");
    std::vector<testkit::ErrorRow> rows = testkit::error_rows(
        testkit::also(testkit::error_row("ElevenInputs", 3, inputs_counted(request(), 11),
                                         "helixo:flatmark:InvalidNumInputArg",
                                         "Twelve input arguments required."),
                      index_left(index, Left::Untouched)),
        testkit::also(testkit::error_row("ThirteenInputs", 3, inputs_counted(request(), 13),
                                         "helixo:flatmark:InvalidNumInputArg",
                                         "Twelve input arguments required."),
                      index_left(index, Left::Untouched)),
        testkit::also(testkit::error_row("ThreeOutputs", 3, request().inputs(),
                                         "helixo:flatmark:InvalidNumOutputArg",
                                         "Too many output arguments."),
                      index_left(index, Left::Untouched)));
    for (const ValidationCase& c : kValidation) {
        Request r = request();
        c.spoil(r, dir);
        rows.push_back(
            testkit::also(testkit::error_row(c.name, 2, r.inputs(), c.identifier, c.message),
                          index_left(index, c.index)));
    }
    const testkit::RowChecks index_rewritten = {[&] { dir.write_text("out.idx", kOldIndex); }, {}};
    testkit::expect_errors_in_order("flatmark", rows, index_rewritten);
}

// Each check in turn is made to fail together with every check after it: the earliest wins.
TEST_F(Entry, EachErrorIsRaisedBeforeEveryLaterOne) {
    struct Step {
        const char* label; // the check the step breaks
        std::function<void(Request&)> spoil;
        const char* identifier;
        const char* message;
    };
    const std::string missing = dir.file("missing.fa");
    const std::string unwritable = dir.file("no/such/folder.idx");
    const std::vector<Step> steps = {
        {"numeric indexer type", [](Request& r) { r.set(1, number); },
         "helixo:flatmark:InvalidIndexerType", "Invalid indexer type."},
        {"unknown indexer type", [](Request& r) { r.type = "fastaa"; },
         "helixo:flatmark:UnknownIndexerType", "Unknown indexer type."},
        {"numeric input file name", [](Request& r) { r.set(2, number); },
         "helixo:flatmark:InvalidFileName", "Invalid input file name."},
        {"missing input file", [&](Request& r) { r.input = missing; },
         "helixo:flatmark:CannotOpenInFile", "Could not open input file."},
        {"numeric index file name", [](Request& r) { r.set(3, number); },
         "helixo:flatmark:InvalidFileName", "Invalid index file name."},
        {"index file in a missing folder", [&](Request& r) { r.index = unwritable; },
         "helixo:flatmark:CannotOpenIdxFile", "Could not open output index file."},
        {"numeric key token", [](Request& r) { r.set(8, number); },
         "helixo:flatmark:InvalidCommentPrefix", "Invalid comment prefix."},
        {"numeric comment prefix", [](Request& r) { r.set(9, number); },
         "helixo:flatmark:InvalidCommentPrefix", "Invalid comment prefix."},
        {"numeric header prefix", [](Request& r) { r.set(10, number); },
         "helixo:flatmark:InvalidHeaderPrefix", "Invalid header prefix."},
        {"empty field delimiter", [](Request& r) { r.set(11, empty_text); },
         "helixo:flatmark:InvalidFieldDelimiter", "Invalid field delimiter."},
        {"numeric entry delimiter", [](Request& r) { r.set(12, number); },
         "helixo:flatmark:InvalidEntryDelimiter", "Invalidentry delimiter."},
    };
    std::vector<testkit::ErrorRow> rows;
    for (std::size_t first = 0; first < steps.size(); ++first) {
        Request r = request();
        // Later spoilers are applied first so that an override of the same input is replaced.
        for (std::size_t k = steps.size(); k-- > first;)
            steps[k].spoil(r);
        rows.push_back(testkit::error_row(steps[first].label, 2, r.inputs(),
                                          steps[first].identifier, steps[first].message));
    }
    const testkit::RowChecks index_rewritten = {[&] { dir.write_text("out.idx", kOldIndex); }, {}};
    testkit::expect_errors_in_order("flatmark", rows, index_rewritten);
}

TEST_F(Entry, FastaStillRejectsInputsItDoesNotUse) {
    for (int input : {8, 9, 10, 12}) {
        Request r = request();
        r.set(input, number);
        EXPECT_FALSE(run(r).ok) << "input " << input;
    }
}

TEST_F(Entry, TextsOneShortOfTheirBuffersAreAccepted) {
    Request r = request();
    r.key_token = std::string(32767, 'k');
    r.comment_prefix = std::string(32767, 'c');
    r.header_prefix = std::string(32767, 'h');
    r.entry_delimiter = std::string(476, 'e');
    auto result = run(r);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(output(result, 0), 1);
}

struct WidthCase {
    const char* name;
    std::function<hxhost::ArrayPtr()> make;
    int width_byte;
};

class OffsetWidthInput : public ::testing::TestWithParam<WidthCase> {};

TEST_P(OffsetWidthInput, SelectsTheInstanceByTheLowEightBits) {
    TempDir dir;
    Request r;
    r.input = dir.write_text("in.fa", ">a\nAC\n>b\nGT\n");
    r.index = dir.file("out.idx");
    r.set(4, GetParam().make);
    ASSERT_TRUE(run(r).ok);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.width_byte, GetParam().width_byte);
    EXPECT_EQ(f.offsets, (std::vector<std::uint64_t>{0, 6, 12}));
    const long width = GetParam().width_byte == 0 ? 4 : 8;
    EXPECT_EQ(testkit::file_size(r.index), 512 + 4 + 3 * width);
}

const WidthCase kWidths[] = {
    {"Zero", [] { return testkit::num(0); }, 0},
    {"PointNine", [] { return testkit::num(0.9); }, 0},
    {"TwoHundredFiftySix", [] { return testkit::num(256); }, 0},
    {"NaN", [] { return testkit::num(std::nan("")); }, 0},
    {"One", [] { return testkit::num(1); }, 1},
    {"True", [] { return hxhost::make_logical(true); }, 1},
    {"MinusOne", [] { return testkit::num(-1); }, 255},
    {"TwoHundredFiftySeven", [] { return testkit::num(257); }, 1},
};

INSTANTIATE_TEST_SUITE_P(Flatmark, OffsetWidthInput, ::testing::ValuesIn(kWidths),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(Entry, NaNLayoutAndKeyFlagsCountAsSet) {
    Request r = request("a\t1\nb\t2\n");
    r.type = "table";
    r.consecutive = std::nan("");
    r.keys = std::nan("");
    ASSERT_TRUE(run(r).ok);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.layout, 1);
    EXPECT_EQ(f.keys, (std::vector<std::string>{"a", "b"}));
}

TEST_F(Entry, KeyFieldCountKeepsItsLowEightBits) {
    Request r = request("a\tb\tc\n");
    r.type = "table";
    r.key_fields = 257.7; // 257 -> 1
    ASSERT_TRUE(run(r).ok);
    EXPECT_EQ(read_index(r.index).keys, (std::vector<std::string>{"b"}));
}

TEST_F(Entry, FieldDelimiterIsTheLowByteOfTheFirstCharacter) {
    Request r = request("a;b|c\n");
    r.type = "table";
    r.key_fields = 1;
    r.set(11, [] { return hxhost::make_char({0x013B, 'x'}, {1, 2}); }); // low byte ';'
    ASSERT_TRUE(run(r).ok);
    EXPECT_EQ(read_index(r.index).keys, (std::vector<std::string>{"b|c"}));
}

TEST_F(Entry, NoOutputAskedStillWritesTheIndex) {
    Request r = request(">a\nAC\n>b\nGT\n");
    auto result = run(r, 0);
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(result.outputs.empty());
    EXPECT_EQ(testkit::file_size(r.index), 528);
    EXPECT_EQ(read_index(r.index).offsets, (std::vector<std::uint64_t>{0, 6, 12}));
}

TEST_F(Entry, OneOutputGivesTheEntryCountOnly) {
    Request r = request(">a\nAC\n>b\nGT\n");
    auto result = run(r, 1);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.outputs.size(), 1u);
    EXPECT_EQ(output(result, 0), 2);
}

TEST_F(Entry, FullDiskIsReportedAfterClosingTheInput) {
    if (!testkit::file_exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this system";
    Request r = request(">a\nAC\n>b\nGT\n");
    r.index = "/dev/full";
    auto result = run(r);
    EXPECT_HX_ERROR(result, "helixo:flatmark:CannotWriteIdxFile",
                    "Cannot write into output index file.");
}

TEST_F(Entry, FullDiskDuringTheKeysIsReported) {
    if (!testkit::file_exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this system";
    std::string text;
    for (int i = 0; i < 5000; ++i) // keys well beyond one 64 KiB block
        text += ">sequence_with_a_long_name_" + std::to_string(i) + "\nACGT\n";
    Request r = request(text);
    r.index = "/dev/full";
    EXPECT_HX_ERROR(run(r), "helixo:flatmark:CannotWriteIdxFile",
                    "Cannot write into output index file.");
}

TEST_F(Entry, UnreadableInputIsAnErrorNotAnEmptyIndex) {
    Request r = request();
    r.input = dir.path(); // a folder opens for reading but cannot be read
    auto result = run(r);
    EXPECT_HX_ERROR(result, "helixo:flatmark:CannotReadInFile",
                    "Cannot read input file at byte 0.");
    EXPECT_EQ(testkit::read_file(r.index), std::string(512, '\0'));
}

} // namespace
