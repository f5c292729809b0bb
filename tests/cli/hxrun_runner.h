// Running hxrun (and python3, an independent JSON reader) as child processes.
#pragma once

#include "testkit.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace clitest {

struct Run {
    int status = -1; // exit status; 128 + N when killed by signal N
    std::string out;
    std::string err;
};

// Runs a program with these arguments (argv[0] first) and waits for it.
Run run_program(const std::vector<std::string>& argv);

// Runs the built hxrun with these arguments.
Run hxrun(const std::vector<std::string>& args);

// Starts hxrun without waiting, its standard output and error going to these files.
pid_t start_hxrun(const std::vector<std::string>& args, const std::string& out_path,
                  const std::string& err_path);
int wait_status(pid_t pid);

std::string hxrun_path();
std::string probe_path(); // the hxprobe test plug-in

// The outputs list of a successful --json - run of `probe echo WORD` (the "[...]" text).
std::string echoed(const std::string& word);

// True when python3's json module reads the document and the Python assertions on `d` hold.
bool python_accepts(const std::string& json, const std::string& assertions);

} // namespace clitest
