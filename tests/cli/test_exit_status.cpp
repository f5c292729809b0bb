// hxrun's exit statuses, usage errors, the user's Ctrl-C and where it finds plug-ins.
#include "hxrun_runner.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using clitest::hxrun;
using clitest::probe_path;

TEST(ExitStatus, NormalReturnIsZeroAndPrintsEachOutput) {
    const auto r =
        hxrun({"--nout", "3", probe_path(), "echo", "uint32:[1,2;3,4]", "cell:{a,double:2}"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "out1: uint32 2x2\n  1 2\n  3 4\n"
                     "out2: cell 1x2\n  {1} char 1x1 \"a\"\n  {2} double 1x1 2\n"
                     "out3: (unset)\n");
    EXPECT_EQ(r.err, "");
}

TEST(ExitStatus, TextOutputIsPrintedAsItIs) {
    const auto r = hxrun({"--nout", "1", probe_path(), "echo", "line one\nline two"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "out1: char 1x17\nline one\nline two\n");
}

TEST(ExitStatus, PluginErrorIsOneWithIdentifierAndMessageOnStandardError) {
    const auto r = hxrun({probe_path(), "throw", "host"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "helixo:probe:throw:Host: throw: Host error 7.\n");
    EXPECT_EQ(r.out, "");
}

TEST(ExitStatus, InterruptAtKEndsWithStatus130) {
    const auto r =
        hxrun({"--interrupt-at", "3", "--json", "-", probe_path(), "handle_loop", "double:100"});
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.err, "helixo:probe:IterruptedByUser: Operation terminated by user.\n");
    EXPECT_NE(r.out.find(R"("polls": {"is_pending": 0, "handle": 3})"), std::string::npos) << r.out;
}

TEST(ExitStatus, InterruptAtBeyondTheLastPollChangesNothing) {
    const auto r =
        hxrun({"--nout", "1", "--interrupt-at", "101", probe_path(), "handle_loop", "double:100"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "out1: double 1x1\n  100\n");
}

TEST(ExitStatus, HelpIsZeroAndDescribesTheForms) {
    const auto r = hxrun({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(
                  "usage: hxrun [--nout N] [--json FILE] [--npy DIR] [--interrupt-at K] PLUGIN", 0),
              0u);
    EXPECT_NE(r.out.find("cell:{E1,E2,...}"), std::string::npos);
}

struct Usage {
    std::vector<std::string> args;
    const char* says;
};

void PrintTo(const Usage& u, std::ostream* os) {
    for (const std::string& a : u.args)
        *os << a << " ";
}

class UsageError : public ::testing::TestWithParam<Usage> {};

TEST_P(UsageError, IsStatusTwoWithAMessage) {
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args)
        args.push_back(a == "PROBE" ? probe_path() : a);
    const auto r = hxrun(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("hxrun: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, UsageError,
    ::testing::Values(
        Usage{{}, "no plug-in named"}, Usage{{"--nout", "2"}, "no plug-in named"},
        Usage{{"--verbose", "PROBE"}, "unknown option '--verbose'"},
        Usage{{"--nout"}, "option --nout needs a value"},
        Usage{{"--nout", "-1", "PROBE"}, "--nout takes a whole number from 0 to 1000, not '-1'"},
        Usage{{"--nout=x", "PROBE"}, "not 'x'"},
        Usage{{"--nout", "1001", "PROBE"}, "from 0 to 1000"},
        Usage{{"--interrupt-at", "0", "PROBE"}, "--interrupt-at takes a whole number from 1"},
        Usage{{"--json=", "PROBE"}, "option --json needs a file name"},
        Usage{{"--json", "/nonexistent/dir/doc.json", "PROBE", "echo"},
              "cannot write '/nonexistent/dir/doc.json'"},
        Usage{{"noplugin"}, "plug-in 'noplugin' not found in "},
        Usage{{"/nonexistent/probe.so"}, "cannot load plug-in '/nonexistent/probe.so'"},
        Usage{{"PROBE", "echo", "uint8:[1,2"}, "argument 2 'uint8:[1,2'"}));

TEST(ExitStatus, WordsAfterThePluginAreInputsEvenWhenTheyLookLikeOptions) {
    const auto r = hxrun({"--nout", "1", probe_path(), "echo", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "out1: char 1x6\n--help\n");
}

// Starts hxrun on a probe service that prints "waiting" once it is inside the call.
pid_t start_waiting(const testkit::TempDir& dir, const char* service) {
    const pid_t pid =
        clitest::start_hxrun({probe_path(), service}, dir.file("out"), dir.file("err"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (testkit::read_file(dir.file("out")).find("waiting") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return pid;
}

TEST(Sigint, CtrlCStopsAPollingPluginWithStatus130) {
    testkit::TempDir dir;
    const pid_t pid = start_waiting(dir, "wait_for_interrupt");
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGINT), 0);
    EXPECT_EQ(clitest::wait_status(pid), 130);
    EXPECT_EQ(testkit::read_file(dir.file("err")),
              "helixo:probe:IterruptedByUser: Operation terminated by user.\n");
}

TEST(Sigint, SecondCtrlCEndsAPluginThatDoesNotPoll) {
    testkit::TempDir dir;
    const pid_t pid = start_waiting(dir, "sleep_without_polling");
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGINT), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0)
        << "the first Ctrl-C only asks the plug-in to stop";
    ASSERT_EQ(kill(pid, SIGINT), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
}

TEST(PluginLookup, BareNameIsFoundBesideHxrun) {
    const auto r = hxrun({"--nout", "1", "hxprobe", "echo", "x"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "out1: char 1x1\nx\n");
}

TEST(PluginLookup, BareNameIsFoundInLibHelixoOfAnInstall) {
    namespace fs = std::filesystem;
    testkit::TempDir dir;
    fs::create_directories(dir.file("bin"));
    fs::create_directories(dir.file("lib/helixo"));
    for (const char* file : {"hxrun", "libhxhost.so"})
        fs::copy_file(testkit::bin_dir() + "/" + file, dir.file(std::string("bin/") + file));
    fs::copy_file(probe_path(), dir.file("lib/helixo/hxprobe.so"));
    const auto r =
        clitest::run_program({dir.file("bin/hxrun"), "--nout", "1", "hxprobe", "echo", "double:5"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "out1: double 1x1\n  5\n");
}

} // namespace
