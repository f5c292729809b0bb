// The JSON document of hxrun, read back by an independent reader (python3's json module).
#include "hxrun_runner.h"

namespace {

using clitest::hxrun;
using clitest::probe_path;
using clitest::python_accepts;

TEST(JsonDocument, CarriesOutputsUnsetSlotsPollsAndDescriptors) {
    const auto r =
        hxrun({"--nout", "3", "--json", "-", probe_path(), "echo",
               "int64:[-9223372036854775808,9007199254740993]", "double:[nan,-inf,0.1]"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(python_accepts(r.out, R"(
assert d["ok"] is True and "error" not in d
o = d["outputs"]
assert len(o) == 3 and o[2] is None
assert o[0] == {"class": "int64", "dims": [1, 2], "data": [-9223372036854775808, 9007199254740993]}
assert o[1]["data"] == ["NaN", "-Inf", 0.1]
assert d["polls"] == {"is_pending": 0, "handle": 0}
assert d["fds"]["before"] == d["fds"]["after"] and d["fds"]["before"] >= 3
)")) << r.out;
}

TEST(JsonDocument, EveryCharacterCodeSurvives) {
    // A lone surrogate each way, a pair, quote, backslash, controls, DEL, Latin-1, BMP.
    const auto r = hxrun({"--nout", "1", "--json", "-", probe_path(), "chars",
                          "uint16:[55296,65,56320,55357,56832,34,92,10,1,31,127,233,8364,0]"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(R"("text": "\uD800A\uDC00)"
                         "\xF0\x9F\x98\x80"
                         R"(\"\\\n\u0001\u001F)"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(python_accepts(r.out, R"(
t = d["outputs"][0]["text"]
assert [ord(c) for c in t] == [0xD800, 65, 0xDC00, 0x1F600, 34, 92, 10, 1, 31, 127, 233, 8364, 0], t
assert d["outputs"][0]["dims"] == [1, 14]
)")) << r.out;
}

TEST(JsonDocument, CellsListElementsInColumnOrderWithNullForUnset) {
    const auto r = hxrun({"--nout", "1", "--json", "-", probe_path(), "nested_cell"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(python_accepts(r.out, R"(
c = d["outputs"][0]
assert c["class"] == "cell" and c["dims"] == [1, 2]
assert c["data"][0] == {"class": "char", "dims": [1, 4], "text": "name"}
assert c["data"][1]["data"] == [{"class": "double", "dims": [1, 1], "data": [7]}, None]
)")) << r.out;
}

TEST(JsonDocument, ErrorHasIdentifierMessageAndNoOutputs) {
    testkit::TempDir dir;
    const auto r =
        hxrun({"--nout", "2", "--json", dir.file("doc.json"), probe_path(), "fail_after_outputs"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "helixo:probe:fail_after_outputs:Failed: fail_after_outputs: Failed late.\n");
    EXPECT_TRUE(python_accepts(testkit::read_file(dir.file("doc.json")), R"(
assert d["ok"] is False and d["outputs"] == []
assert d["error"] == {"identifier": "helixo:probe:fail_after_outputs:Failed", "message": "fail_after_outputs: Failed late."}
)"));
}

TEST(JsonDocument, CountsThePollsOfEachKind) {
    const auto r = hxrun(
        {"--nout", "1", "--json", "-", "--interrupt-at", "2", probe_path(), "polls", "ihhii"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(python_accepts(r.out, R"(
assert d["outputs"][0]["data"] == [False, True, False, False, False]
assert d["polls"] == {"is_pending": 3, "handle": 2}
)")) << r.out;
}

TEST(JsonDocument, PluginTextComesBeforeTheDocument) {
    const auto r = hxrun({"--json", "-", probe_path(), "print", "printed "});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("printed |42|%d|{\"ok\": true, \"outputs\": []", 0), 0u) << r.out;
}

} // namespace
