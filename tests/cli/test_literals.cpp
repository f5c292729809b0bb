// Every literal form of hxrun, end to end: the word goes through hxrun into the probe plug-in,
// which hands back a copy, and the JSON document shows exactly what arrived.
#include "hxrun_runner.h"

namespace {

using clitest::echoed;

struct Form {
    const char* word;
    const char* json;
};

void PrintTo(const Form& f, std::ostream* os) {
    *os << f.word;
}

class LiteralForm : public ::testing::TestWithParam<Form> {};

TEST_P(LiteralForm, ArrivesAsThisArray) {
    EXPECT_EQ(echoed(GetParam().word), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LiteralForm,
    ::testing::Values(
        Form{"hello", R"({"class": "char", "dims": [1, 5], "text": "hello"})"},
        Form{"", R"({"class": "char", "dims": [1, 0], "text": ""})"},
        Form{"chr1:100-200", R"({"class": "char", "dims": [1, 12], "text": "chr1:100-200"})"},
        Form{"Double:3", R"({"class": "char", "dims": [1, 8], "text": "Double:3"})"},
        Form{"user@host", R"({"class": "char", "dims": [1, 9], "text": "user@host"})"},
        Form{"str:uint32:5", R"({"class": "char", "dims": [1, 8], "text": "uint32:5"})"},
        Form{"str:", R"({"class": "char", "dims": [0, 0], "text": ""})"},
        Form{"r\xC3\xA9"
             "f",
             R"({"class": "char", "dims": [1, 3], "text": "r)"
             "\xC3\xA9"
             R"(f"})"}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, LiteralForm,
    ::testing::Values(
        Form{"double:3", R"({"class": "double", "dims": [1, 1], "data": [3]})"},
        Form{"double:-0.5", R"({"class": "double", "dims": [1, 1], "data": [-0.5]})"},
        Form{"double:[0.1,1e300,-2E-3]",
             R"({"class": "double", "dims": [1, 3], "data": [0.1, 1e+300, -0.002]})"},
        Form{"double:[nan,inf,-inf]",
             R"({"class": "double", "dims": [1, 3], "data": ["NaN", "Inf", "-Inf"]})"},
        Form{"logical:[true,false,2,-0.5]",
             R"({"class": "logical", "dims": [1, 4], "data": [true, false, true, true]})"},
        Form{"uint32:[1,2,3]", R"({"class": "uint32", "dims": [1, 3], "data": [1, 2, 3]})"},
        Form{"int16:[1;2;3]", R"({"class": "int16", "dims": [3, 1], "data": [1, 2, 3]})"},
        Form{"int8:[1,2;3,4]", R"({"class": "int8", "dims": [2, 2], "data": [1, 3, 2, 4]})"},
        Form{"uint8:[ 1 , 2 ]", R"({"class": "uint8", "dims": [1, 2], "data": [1, 2]})"},
        Form{"uint8:[]", R"({"class": "uint8", "dims": [0, 0], "data": []})"},
        Form{"uint32:[]/0x1", R"({"class": "uint32", "dims": [0, 1], "data": []})"},
        Form{"uint32:[1,2,3,4]/2x2",
             R"({"class": "uint32", "dims": [2, 2], "data": [1, 2, 3, 4]})"},
        Form{"double:[1,2,3,4,5,6]/1x2x3",
             R"({"class": "double", "dims": [1, 2, 3], "data": [1, 2, 3, 4, 5, 6]})"},
        Form{"double:[1,2]/1x2x1", R"({"class": "double", "dims": [1, 2], "data": [1, 2]})"},
        Form{"single:[0.1,1e39,-1e39]",
             R"({"class": "single", "dims": [1, 3], "data": [0.1, "Inf", "-Inf"]})"},
        Form{"complex:double:[1,-2]",
             R"({"class": "double", "dims": [1, 2], "data": [1, -2], "imag": [0, 0]})"},
        Form{"complex:int16:7",
             R"({"class": "int16", "dims": [1, 1], "data": [7], "imag": [0]})"}));

INSTANTIATE_TEST_SUITE_P(
    CastsSaturate, LiteralForm,
    ::testing::Values(
        Form{"uint8:[-1,256,2.5,-2.5,nan,1e99]",
             R"({"class": "uint8", "dims": [1, 6], "data": [0, 255, 3, 0, 0, 255]})"},
        Form{"int8:[-2.5,127.5,-1000,1.49]",
             R"({"class": "int8", "dims": [1, 4], "data": [-3, 127, -128, 1]})"},
        Form{
            "int32:[2147483648,-2147483649,inf,-inf]",
            R"({"class": "int32", "dims": [1, 4], "data": [2147483647, -2147483648, 2147483647, -2147483648]})"},
        Form{
            "int64:[9223372036854775807,-9223372036854775808,9223372036854775808,-1e30]",
            R"({"class": "int64", "dims": [1, 4], "data": [9223372036854775807, -9223372036854775808, 9223372036854775807, -9223372036854775808]})"},
        Form{
            "uint64:[18446744073709551615,18446744073709551616,1e30,-5,9007199254740993]",
            R"({"class": "uint64", "dims": [1, 5], "data": [18446744073709551615, 18446744073709551615, 18446744073709551615, 0, 9007199254740993]})"}));

INSTANTIATE_TEST_SUITE_P(
    Cells, LiteralForm,
    ::testing::Values(
        Form{"cell:{}", R"({"class": "cell", "dims": [0, 0], "data": []})"},
        Form{
            "cell:{a}",
            R"({"class": "cell", "dims": [1, 1], "data": [{"class": "char", "dims": [1, 1], "text": "a"}]})"},
        Form{
            "cell:{chr1:1-5,[x,y],uint8:[1,2]}",
            R"({"class": "cell", "dims": [1, 3], "data": [{"class": "char", "dims": [1, 8], "text": "chr1:1-5"}, )"
            R"({"class": "char", "dims": [1, 5], "text": "[x,y]"}, {"class": "uint8", "dims": [1, 2], "data": [1, 2]}]})"},
        Form{
            "cell:{cell:{b,str:},cell:{}}",
            R"({"class": "cell", "dims": [1, 2], "data": [{"class": "cell", "dims": [1, 2], "data": [)"
            R"({"class": "char", "dims": [1, 1], "text": "b"}, {"class": "char", "dims": [0, 0], "text": ""}]}, )"
            R"({"class": "cell", "dims": [0, 0], "data": []}]})"}));

TEST(FileLiterals, RawLittleEndianFileIsAColumn) {
    testkit::TempDir dir;
    const std::string path = dir.write_text("v.bin", std::string("\x01\x00\xff\xff\x00\x80", 6));
    EXPECT_EQ(echoed("int16@" + path),
              R"({"class": "int16", "dims": [3, 1], "data": [1, -1, -32768]})");
    EXPECT_EQ(echoed("uint16@" + path),
              R"({"class": "uint16", "dims": [3, 1], "data": [1, 65535, 32768]})");
    const std::string empty = dir.write_text("e.bin", "");
    EXPECT_EQ(echoed("uint64@" + empty), R"({"class": "uint64", "dims": [0, 1], "data": []})");
    const std::string flags = dir.write_text("f.bin", std::string("\x00\x01\x07", 3));
    EXPECT_EQ(echoed("logical@" + flags),
              R"({"class": "logical", "dims": [3, 1], "data": [false, true, true]})");
    EXPECT_EQ(
        echoed("cell:{uint8@" + flags + "}"),
        R"({"class": "cell", "dims": [1, 1], "data": [{"class": "uint8", "dims": [3, 1], "data": [0, 1, 7]}]})");
}

// An .npy file as numpy writes it: magic, version 1.0, header padded to 64 bytes, data.
std::string npy(const std::string& descr, const std::string& shape, const std::string& data) {
    std::string header =
        "{'descr': '" + descr + "', 'fortran_order': False, 'shape': " + shape + ", }";
    header.append(63 - (10 + header.size()) % 64, ' ');
    header += "\n";
    return std::string("\x93NUMPY\x01\x00", 8) + static_cast<char>(header.size()) + '\0' + header +
           data;
}

TEST(FileLiterals, NpyFileWithTheClassDtypeIsAColumnInFileOrder) {
    testkit::TempDir dir;
    const std::string u32 = std::string("\x05\0\0\0\x06\0\0\0\x07\0\0\0\x08\0\0\0", 16);
    EXPECT_EQ(echoed("uint32@" + dir.write_text("a.npy", npy("<u4", "(2, 2)", u32))),
              R"({"class": "uint32", "dims": [4, 1], "data": [5, 6, 7, 8]})");
    EXPECT_EQ(echoed("int8@" + dir.write_text("b.npy", npy("|i1", "(3,)", "\x01\xff\x02"))),
              R"({"class": "int8", "dims": [3, 1], "data": [1, -1, 2]})");
    EXPECT_EQ(echoed("complex:uint32@" + dir.file("a.npy")),
              R"({"class": "uint32", "dims": [4, 1], "data": [5, 6, 7, 8], "imag": [0, 0, 0, 0]})");
}

struct BadWord {
    const char* word;
    const char* says;
};

void PrintTo(const BadWord& b, std::ostream* os) {
    *os << b.word;
}

class MalformedLiteral : public ::testing::TestWithParam<BadWord> {};

TEST_P(MalformedLiteral, IsAUsageErrorNamingTheArgument) {
    const auto r = clitest::hxrun({"--nout", "1", clitest::probe_path(), "echo", GetParam().word});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(std::string("hxrun: argument 2 '") + GetParam().word + "': ", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Words, MalformedLiteral,
    ::testing::Values(
        BadWord{"uint32:abc", "'abc' is not a number"}, BadWord{"double:", "no value given"},
        BadWord{"double:0x10", "'0x10' is not a number"},
        BadWord{"double:1e", "'1e' is not a number"}, BadWord{"double:infinity", "is not a number"},
        BadWord{"int8:[1,2", "no closing ']'"}, BadWord{"int8:[1,,2]", "a value is missing"},
        BadWord{"int8:[1,2;]", "a value is missing"}, BadWord{"int8:[1,2;3]", "differ in length"},
        BadWord{"uint32:[1,2,3]/2x2", "does not hold the 3 values"},
        BadWord{"uint32:[1,2]/2", "is not RxC or RxCxP"},
        BadWord{"uint32:[1,2]/2xa", "is not RxC or RxCxP"},
        BadWord{"uint32:[1,2]/1x2x1x1", "is not RxC or RxCxP"},
        BadWord{"uint32:[]/99999999999999999999x0", "is not RxC or RxCxP"},
        BadWord{"uint32:[1]/4294967296x4294967296", "does not hold"},
        BadWord{"logical:nan", "NaN cannot be converted to logical"},
        BadWord{"complex:logical:1", "cannot be complex"},
        BadWord{"complex:text", "complex: must be followed by"},
        BadWord{"cell:abc", "cell:{E1,E2,...}"}, BadWord{"cell:{a,[b}", "unclosed '['"},
        BadWord{"cell:{a]}", "unmatched ']'"}, BadWord{"uint8@/", "'/' is not a file"},
        BadWord{"cell:{a,{b}", "unclosed '{'"}, BadWord{"cell:{uint8:x}", "'x' is not a number"},
        BadWord{"uint32@", "no file name"},
        BadWord{"uint32@/nonexistent/file", "cannot open '/nonexistent/file'"},
        BadWord{"double@/nonexistent/f.npy", "cannot open '/nonexistent/f.npy'"}));

TEST(MalformedFiles, SizeAndDtypeAreChecked) {
    testkit::TempDir dir;
    const std::string odd = dir.write_text("odd.bin", "12345");
    const std::string f8 = dir.write_text("f8.npy", npy("<f8", "(1,)", std::string(8, '\0')));
    const std::string short_data =
        dir.write_text("short.npy", npy("<u4", "(3,)", std::string(8, '\0')));
    const std::string text = dir.write_text("text.npy", "not numpy at all");
    const std::vector<std::pair<std::string, std::string>> cases{
        {"uint32@" + odd, "not a whole number of 4-byte values"},
        {"uint32@" + f8, "holds dtype '<f8', not uint32"},
        {"uint32@" + short_data, "not the 3 values of its shape"},
        {"double@" + text, "is not a .npy file"}};
    for (const auto& [word, says] : cases) {
        const auto r = clitest::hxrun({clitest::probe_path(), "echo", word});
        EXPECT_EQ(r.status, 2) << word;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    }
}

} // namespace
