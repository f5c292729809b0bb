#include "testkit.h"

#include <dirent.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace testkit {

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/helixo-test.XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write_text(const std::string& name, const std::string& text) const {
    const std::string p = file(name);
    std::ofstream out(p, std::ios::binary);
    out << text;
    return p;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::set<std::string> entries_of(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d))
            names.insert(e->d_name);
        ::closedir(d);
    }
    return names;
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

long file_size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string bin_dir() {
    const char* env = std::getenv("HELIXO_BIN_DIR");
    return env != nullptr && *env ? env : HELIXO_BIN_DIR;
}

const hxhost::Plugin& plugin(const std::string& name) {
    static std::map<std::string, std::unique_ptr<hxhost::Plugin>> loaded;
    auto& slot = loaded[name];
    if (!slot)
        slot = std::make_unique<hxhost::Plugin>(bin_dir() + "/" + name + ".so");
    return *slot;
}

std::string run_command(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr)
            *status = -1;
        return out;
    }
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    const int closed = ::pclose(pipe);
    if (status != nullptr)
        *status = closed;
    return out;
}

std::set<std::string> exported_symbols(const std::string& library) {
#if defined(__APPLE__)
    const std::string command = "nm -gU '" + library + "' 2>/dev/null";
#else
    const std::string command = "nm -D --defined-only '" + library + "' 2>/dev/null";
#endif
    std::set<std::string> names;
    std::istringstream lines(run_command(command));
    for (std::string line; std::getline(lines, line);) {
        char type = 0;
        char name[900];
        if (std::sscanf(line.c_str(), "%*s %c %899s", &type, name) == 2 && type != 'A' &&
            type != 'U')
            names.insert(std::string(name) == "_hxFunction" ? "hxFunction" : name);
    }
    return names;
}

hxhost::ArrayPtr text(const std::string& utf8) {
    return hxhost::make_text(utf8);
}
hxhost::ArrayPtr num(double value) {
    return hxhost::make_double(value);
}
hxhost::ArrayPtr u32(const std::vector<std::uint32_t>& v) {
    return hxhost::make_numeric(haUINT32_CLASS, v);
}
hxhost::ArrayPtr i32(const std::vector<std::int32_t>& v) {
    return hxhost::make_numeric(haINT32_CLASS, v);
}
hxhost::ArrayPtr u64(const std::vector<std::uint64_t>& v) {
    return hxhost::make_numeric(haUINT64_CLASS, v);
}
hxhost::ArrayPtr dbl(const std::vector<double>& v) {
    return hxhost::make_numeric(haDOUBLE_CLASS, v);
}
hxhost::ArrayPtr cell_of(const std::vector<std::string>& texts) {
    std::vector<hxhost::ArrayPtr> elements;
    for (const std::string& t : texts)
        elements.push_back(text(t));
    return hxhost::make_cell(std::move(elements));
}

Inputs inputs() {
    return Inputs();
}

hxhost::ArrayPtr to_array(const char* s) {
    return text(s);
}
hxhost::ArrayPtr to_array(const std::string& s) {
    return text(s);
}
hxhost::ArrayPtr to_array(hxhost::ArrayPtr a) {
    return a;
}
hxhost::ArrayPtr to_array(double v) {
    return num(v);
}
hxhost::ArrayPtr to_array(int v) {
    return num(v);
}

namespace {

long arrays_in(const haArray* a) {
    if (a == nullptr)
        return 0;
    long n = 1;
    if (haIsCell(a)) {
        for (haSize k = 0; k < haGetNumberOfElements(a); ++k)
            n += arrays_in(haGetCell(a, k));
    }
    return n;
}

} // namespace

hxhost::CallResult call(const std::string& plugin_name, int outCount, const Inputs& in,
                        const hxhost::CallOptions& options) {
    const hxhost::Plugin& p = plugin(plugin_name);
    std::vector<const haArray*> raw;
    for (const auto& a : in)
        raw.push_back(a.get());
    const int fds_before = hxhost::open_fd_count();
    const long live_before = hxhost::live_arrays();
    hxhost::CallResult r = p.call(outCount, raw, options);
    const int fds_after = hxhost::open_fd_count();
    long returned = 0;
    for (const auto& out : r.outputs)
        returned += arrays_in(out.get());
    EXPECT_EQ(fds_before, fds_after) << plugin_name << ": descriptors left open by the call";
    EXPECT_EQ(live_before + returned, hxhost::live_arrays()) << plugin_name << ": arrays leaked";
    EXPECT_FALSE(r.foreign_exception) << "a foreign exception escaped: " << r.message;
    if (!r.ok) {
        EXPECT_TRUE(r.outputs.empty());
    }
    return r;
}

} // namespace testkit
