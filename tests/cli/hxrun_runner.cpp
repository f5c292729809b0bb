#include "hxrun_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace clitest {

pid_t start_program(const std::vector<std::string>& argv, const std::string& out_path,
                    const std::string& err_path) {
    std::vector<char*> raw;
    for (const std::string& a : argv)
        raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        close(out);
        close(err);
        execv(raw[0], raw.data());
        _exit(127);
    }
    return pid;
}

int wait_status(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

Run run_program(const std::vector<std::string>& argv) {
    testkit::TempDir dir;
    Run r;
    r.status = wait_status(start_program(argv, dir.file("out"), dir.file("err")));
    r.out = testkit::read_file(dir.file("out"));
    r.err = testkit::read_file(dir.file("err"));
    return r;
}

std::string hxrun_path() {
    return testkit::bin_dir() + "/hxrun";
}
std::string probe_path() {
    return testkit::bin_dir() + "/hxprobe.so";
}

Run hxrun(const std::vector<std::string>& args) {
    std::vector<std::string> argv{hxrun_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv);
}

pid_t start_hxrun(const std::vector<std::string>& args, const std::string& out_path,
                  const std::string& err_path) {
    std::vector<std::string> argv{hxrun_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    return start_program(argv, out_path, err_path);
}

std::string echoed(const std::string& word) {
    const Run r = hxrun({"--nout", "1", "--json", "-", probe_path(), "echo", word});
    EXPECT_EQ(r.status, 0) << word << ": " << r.err;
    const std::string head = "{\"ok\": true, \"outputs\": [";
    const std::size_t end = r.out.rfind("], \"polls\"");
    if (r.out.compare(0, head.size(), head) != 0 || end == std::string::npos)
        return "unexpected document: " + r.out;
    return r.out.substr(head.size(), end - head.size());
}

bool python_accepts(const std::string& json, const std::string& assertions) {
    testkit::TempDir dir;
    const std::string path = dir.write_text("doc.json", json);
    const Run r = run_program(
        {"/usr/bin/env", "python3", "-c",
         "import json, sys\nd = json.load(open(sys.argv[1], encoding='utf-8'))\n" + assertions,
         path});
    EXPECT_EQ(r.err, "");
    return r.status == 0;
}

} // namespace clitest
