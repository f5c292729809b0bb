// Test fixtures shared by every suite: temporary folders with inline text files, the built
// plug-ins, input builders and a call that checks the host's bookkeeping around it.
#pragma once

#include "hxhost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace testkit {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes text (bytes as given) to the named file and returns its path.
    std::string write_text(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
// The names in a folder ("." and ".." included); empty when it cannot be read.
std::set<std::string> entries_of(const std::string& folder);
long file_size(const std::string& path);

// Folder of the built binaries and plug-ins.
std::string bin_dir();
// The plug-in NAME, loaded once per process.
const hxhost::Plugin& plugin(const std::string& name);

// Standard output of a shell command; *status (when given) receives pclose's status.
std::string run_command(const std::string& command, int* status = nullptr);

// The names a shared library exports (defined dynamic symbols), as nm lists them.
std::set<std::string> exported_symbols(const std::string& library);

// Input builders.
hxhost::ArrayPtr text(const std::string& utf8);
hxhost::ArrayPtr num(double value);
hxhost::ArrayPtr u32(const std::vector<std::uint32_t>& values);  // n-by-1
hxhost::ArrayPtr i32(const std::vector<std::int32_t>& values);   // n-by-1
hxhost::ArrayPtr u64(const std::vector<std::uint64_t>& values);  // n-by-1
hxhost::ArrayPtr dbl(const std::vector<double>& values);         // n-by-1
hxhost::ArrayPtr cell_of(const std::vector<std::string>& texts); // 1-by-n cell of texts

using Inputs = std::vector<hxhost::ArrayPtr>;
Inputs inputs(); // empty list, then push_back

// Calls the plug-in and checks what every call must leave behind: the same open file
// descriptors as before, and no live array beyond the outputs it returned.
hxhost::CallResult call(const std::string& plugin_name, int outCount, const Inputs& in,
                        const hxhost::CallOptions& options = {});

hxhost::ArrayPtr to_array(const char* s);
hxhost::ArrayPtr to_array(const std::string& s);
hxhost::ArrayPtr to_array(hxhost::ArrayPtr a);
hxhost::ArrayPtr to_array(double v);
hxhost::ArrayPtr to_array(int v);

// Builds an input list from texts and arrays: call_args("getheader", path).
template <class... A> Inputs args(A&&... a) {
    Inputs in;
    (in.push_back(to_array(std::forward<A>(a))), ...);
    return in;
}

// Expects an error with exactly this identifier and message.
#define EXPECT_HX_ERROR(result, id, msg)                                                           \
    do {                                                                                           \
        const auto& r_ = (result);                                                                 \
        EXPECT_FALSE(r_.ok);                                                                       \
        EXPECT_EQ(r_.identifier, id);                                                              \
        EXPECT_EQ(r_.message, msg);                                                                \
    } while (0)

// True when HELIXO_REQUIRE_PEERS=1, as scripts/test (and so CI) sets it.
inline bool peers_required() {
    const char* value = std::getenv("HELIXO_REQUIRE_PEERS");
    return value != nullptr && std::string(value) == "1";
}

// For a test whose independent peer (samtools, pysam, numpy) cannot be run: a skip, or, where
// peers are required, a failure, so that a comparison never falls away unseen.
#define SKIP_OR_FAIL_WITHOUT_PEER(why)                                                             \
    do {                                                                                           \
        if (testkit::peers_required())                                                             \
            GTEST_FAIL() << why << " (HELIXO_REQUIRE_PEERS=1)";                                    \
        else                                                                                       \
            GTEST_SKIP() << why;                                                                   \
    } while (0)

} // namespace testkit
