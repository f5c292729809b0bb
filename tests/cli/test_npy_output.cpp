// --npy DIR: numeric, logical and char outputs as outK.npy (column order), cells as outK.json.
#include "hxrun_runner.h"

#include <cstring>

namespace {

struct Npy {
    std::string header;
    std::string data;
};

// Splits a version 1.0 .npy file, checking the framing every reader relies on.
Npy split_npy(const std::string& bytes) {
    Npy n;
    EXPECT_GE(bytes.size(), 10u);
    if (bytes.size() < 10)
        return n;
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
    const std::size_t length =
        static_cast<unsigned char>(bytes[8]) + 256u * static_cast<unsigned char>(bytes[9]);
    EXPECT_EQ((10 + length) % 64, 0u) << "header not padded to 64 bytes";
    n.header = bytes.substr(10, length);
    EXPECT_EQ(n.header.back(), '\n');
    n.data = bytes.substr(10 + length);
    return n;
}

TEST(NpyOutput, WritesEachOutputInItsFormat) {
    testkit::TempDir dir;
    const std::string out = dir.file("out"); // created by hxrun
    const auto r = clitest::hxrun({"--nout", "5", "--npy", out, clitest::probe_path(), "echo",
                                   "uint32:[1,2,3,4,5,6]/2x3", "h\xC3\xA9", "cell:{a,logical:true}",
                                   "logical:[true,false]"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ""); // --npy replaces the default print

    const Npy u32 = split_npy(testkit::read_file(out + "/out1.npy"));
    EXPECT_EQ(u32.header.rfind("{'descr': '<u4', 'fortran_order': True, 'shape': (2, 3), }", 0), 0u)
        << u32.header;
    ASSERT_EQ(u32.data.size(), 24u);
    std::uint32_t values[6];
    std::memcpy(values, u32.data.data(), sizeof values);
    EXPECT_EQ(std::vector<std::uint32_t>(values, values + 6),
              (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6}));

    const Npy text = split_npy(testkit::read_file(out + "/out2.npy"));
    EXPECT_EQ(text.header.rfind("{'descr': '<u2', 'fortran_order': True, 'shape': (1, 2), }", 0),
              0u);
    EXPECT_EQ(text.data, std::string("h\0\xE9\0", 4));

    EXPECT_TRUE(clitest::python_accepts(testkit::read_file(out + "/out3.json"), R"(
assert d == {"class": "cell", "dims": [1, 2], "data": [{"class": "char", "dims": [1, 1], "text": "a"},
             {"class": "logical", "dims": [1, 1], "data": [True]}]}
)"));
    const Npy flags = split_npy(testkit::read_file(out + "/out4.npy"));
    EXPECT_EQ(flags.header.rfind("{'descr': '|b1', 'fortran_order': True, 'shape': (1, 2), }", 0),
              0u);
    EXPECT_EQ(flags.data, std::string("\x01\x00", 2));
    EXPECT_FALSE(testkit::file_exists(out + "/out5.npy")); // unset slot
}

TEST(NpyOutput, ComplexAndEmptyOutputs) {
    testkit::TempDir dir;
    const auto r = clitest::hxrun({"--nout", "2", "--npy", dir.path(), clitest::probe_path(),
                                   "echo", "complex:single:[1.5,2]", "double:[]/0x3"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Npy z = split_npy(testkit::read_file(dir.file("out1.npy")));
    EXPECT_EQ(z.header.rfind("{'descr': '<c8', 'fortran_order': True, 'shape': (1, 2), }", 0), 0u);
    const float expected[4] = {1.5f, 0, 2, 0};
    EXPECT_EQ(z.data, std::string(reinterpret_cast<const char*>(expected), sizeof expected));
    const Npy empty = split_npy(testkit::read_file(dir.file("out2.npy")));
    EXPECT_EQ(empty.header.rfind("{'descr': '<f8', 'fortran_order': True, 'shape': (0, 3), }", 0),
              0u);
    EXPECT_EQ(empty.data, "");
}

TEST(NpyOutput, WrittenFileReadsBackAsAnInput) {
    testkit::TempDir dir;
    ASSERT_EQ(clitest::hxrun({"--nout", "1", "--npy", dir.path(), clitest::probe_path(), "echo",
                              "int64:[-5;9223372036854775807]"})
                  .status,
              0);
    EXPECT_EQ(clitest::echoed("int64@" + dir.file("out1.npy")),
              R"({"class": "int64", "dims": [2, 1], "data": [-5, 9223372036854775807]})");
}

TEST(NpyOutput, FolderThatIsAFileIsAUsageError) {
    testkit::TempDir dir;
    const std::string file = dir.write_text("plain", "x");
    const auto r = clitest::hxrun({"--npy", file, clitest::probe_path(), "echo"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "hxrun: '" + file + "' is not a folder\n");
}

} // namespace

namespace {

// Runs Python assertions with numpy imported as np and `folder` set; Debian's python3 carries
// numpy (scripts/deps installs it).
clitest::Run numpy_run(const std::string& folder, const std::string& assertions) {
    return clitest::run_program({"/usr/bin/python3", "-c",
                                 "import numpy as np, sys\nfolder = sys.argv[1]\n" + assertions,
                                 folder});
}

TEST(NpyWithNumpy, NumpyReadsWhatHxrunWritesAndHxrunReadsWhatNumpyWrites) {
    testkit::TempDir dir;
    if (numpy_run(dir.path(), "").status != 0)
        SKIP_OR_FAIL_WITHOUT_PEER("numpy is not installed for /usr/bin/python3");
    const auto r =
        clitest::hxrun({"--nout", "3", "--npy", dir.path(), clitest::probe_path(), "echo",
                        "int16:[1,2,3;4,5,6]", "complex:double:[1.5,-2]", "A\xC3\xA9"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto check = numpy_run(dir.path(), R"(
a = np.load(folder + "/out1.npy")
assert a.dtype == np.int16 and a.tolist() == [[1, 2, 3], [4, 5, 6]], a
z = np.load(folder + "/out2.npy")
assert z.dtype == np.complex128 and z.tolist() == [[1.5 + 0j, -2 + 0j]], z
t = np.load(folder + "/out3.npy")
assert t.dtype == np.uint16 and t.tolist() == [[65, 233]], t
np.save(folder + "/in.npy", np.array([[7, 8], [9, 10]], dtype=np.uint32))
np.save(folder + "/flags.npy", np.array([True, False, True]))
)");
    ASSERT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(clitest::echoed("uint32@" + dir.file("in.npy")),
              R"({"class": "uint32", "dims": [4, 1], "data": [7, 8, 9, 10]})");
    EXPECT_EQ(clitest::echoed("logical@" + dir.file("flags.npy")),
              R"({"class": "logical", "dims": [3, 1], "data": [true, false, true]})");
}

} // namespace
