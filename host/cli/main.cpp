// hxrun, the command-line host: loads a plug-in, turns the command-line words into input arrays,
// calls the entry once and reports the outputs or the error. Exit status: 0 after a normal
// return, 1 after a plug-in error, 2 for a usage error of hxrun itself, 130 when the call ended
// by the user's interrupt (Ctrl-C, or --interrupt-at).
#include "cli.h"
#include "file_owner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

namespace {

using hxrun::UsageError;

constexpr int kExitOk = 0;
constexpr int kExitPluginError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;
constexpr long kMaxOutputs = 1000;

const char kUsage[] =
    "usage: hxrun [--nout N] [--json FILE] [--npy DIR] [--interrupt-at K] PLUGIN [ARG ...]\n"
    "\n"
    "Calls a helixo plug-in once, as the numeric host would, and prints its outputs.\n"
    "\n"
    "PLUGIN  alignport, flatmark or traitmark (found beside hxrun or in ../lib/helixo),\n"
    "        or the path of a plug-in library\n"
    "ARG     one input array each:\n"
    "          TEXT                     1-by-n char row (any word not in a form below)\n"
    "          str:TEXT                 always text; str: alone is the 0-by-0 char array\n"
    "          CLASS:VALUES             CLASS one of double single logical int8 uint8 int16\n"
    "                                   uint16 int32 uint32 int64 uint64; VALUES a scalar\n"
    "                                   (3, -0.5, nan, inf, -inf, true, false), a row [1,2,3],\n"
    "                                   a column [1;2;3], a matrix [1,2;3,4] or [], with an\n"
    "                                   optional shape /RxC or /RxCxP (column order);\n"
    "                                   values are cast (integers round and saturate)\n"
    "          complex:CLASS:VALUES     the same, complex with zero imaginary parts\n"
    "          CLASS@PATH               column of raw little-endian values, or of a .npy file\n"
    "                                   whose dtype matches CLASS\n"
    "          cell:{E1,E2,...}         1-by-n cell; each element is an ARG; cell:{} is empty\n"
    "\n"
    "options:\n"
    "  --nout N          number of outputs asked for (default 0)\n"
    "  --json FILE       write the outcome as one JSON document (- for standard output)\n"
    "  --npy DIR         write output K as DIR/outK.npy (char as uint16), a cell as outK.json\n"
    "  --interrupt-at K  raise a stop request at the plug-in's K-th interrupt poll\n"
    "  -h, --help        this text\n"
    "\n"
    "Exit status: 0 success, 1 plug-in error (IDENTIFIER: MESSAGE on standard error),\n"
    "2 usage error, 130 interrupted by the user.\n";

struct Options {
    long nout = 0;
    std::string json; // "" for none, "-" for standard output
    std::string npy;  // "" for none
    long interrupt_at = 0;
    bool help = false;
    std::string plugin;
    std::vector<std::string> args;
};

int usage_error(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "hxrun: %s\n", message.c_str());
    return kExitUsage;
}

long parse_count(const std::string& option, const std::string& value, long min, long max) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno == ERANGE || n < min || n > max ||
        value.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(option + " takes a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not '" + value + "'");
    return n;
}

// Options come before PLUGIN; every word after it is an input, whatever it looks like.
Options parse_options(int argc, char** argv) {
    Options o;
    int k = 1;
    for (; k < argc; ++k) {
        const std::string word = argv[k];
        if (word == "--") {
            ++k;
            break;
        }
        if (word == "-h" || word == "--help") {
            o.help = true;
            return o;
        }
        if (word.size() < 2 || word[0] != '-')
            break;
        const std::size_t eq = word.find('=');
        const std::string name = word.substr(0, eq);
        if (name != "--nout" && name != "--json" && name != "--npy" && name != "--interrupt-at")
            throw UsageError("unknown option '" + word + "' (see hxrun --help)");
        if (eq == std::string::npos && k + 1 >= argc)
            throw UsageError("option " + name + " needs a value");
        const std::string value = eq != std::string::npos ? word.substr(eq + 1) : argv[++k];
        if (name == "--nout")
            o.nout = parse_count(name, value, 0, kMaxOutputs);
        else if (name == "--interrupt-at")
            o.interrupt_at = parse_count(name, value, 1, LONG_MAX);
        else if (value.empty())
            throw UsageError("option " + name + " needs a file name");
        else
            (name == "--json" ? o.json : o.npy) = value;
    }
    if (k >= argc)
        throw UsageError("no plug-in named (see hxrun --help)");
    o.plugin = argv[k++];
    o.args.assign(argv + k, argv + argc);
    return o;
}

// The folder of the running hxrun binary, symbolic links resolved.
std::string executable_dir(const char* argv0) {
    std::string path;
#if defined(__linux__)
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0)
        path.assign(buf, static_cast<std::size_t>(n));
#elif defined(__APPLE__)
    char buf[PATH_MAX];
    std::uint32_t size = sizeof buf;
    if (_NSGetExecutablePath(buf, &size) == 0)
        path = buf;
#endif
    if (path.empty())
        path = argv0;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr)
        path = resolved;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool is_file(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A word with a slash or a library suffix is a path; a bare name is looked up beside hxrun,
// then in ../lib/helixo as installed.
std::string resolve_plugin(const std::string& word, const char* argv0) {
    if (word.find('/') != std::string::npos)
        return word;
    if (ends_with(word, ".so") || ends_with(word, ".dylib"))
        return "./" + word;
    const std::string here = executable_dir(argv0);
    for (const std::string& dir : {here, here + "/../lib/helixo"}) {
        if (is_file(dir + "/" + word + ".so"))
            return dir + "/" + word + ".so";
    }
    throw UsageError("plug-in '" + word + "' not found in " + here + " or " + here +
                     "/../lib/helixo");
}

using hxb::FilePtr;

void write_npy_outputs(const std::string& dir, const std::vector<hxhost::ArrayPtr>& outputs) {
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        const haArray* a = outputs[k].get();
        const std::string base = dir + "/out" + std::to_string(k + 1);
        if (a == nullptr)
            continue;
        if (!haIsCell(a)) {
            hxrun::write_npy(base + ".npy", a);
            continue;
        }
        FilePtr f(std::fopen((base + ".json").c_str(), "w"));
        const std::string text = hxrun::json_array(a) + "\n";
        if (!f || std::fwrite(text.data(), 1, text.size(), f.get()) != text.size() ||
            !hxb::close_file(f))
            throw std::runtime_error("cannot write '" + base + ".json'");
    }
}

int run(const Options& o, const char* argv0) {
    std::unique_ptr<hxhost::Plugin> plugin;
    try {
        plugin = std::make_unique<hxhost::Plugin>(resolve_plugin(o.plugin, argv0));
    } catch (const UsageError& e) {
        return usage_error(e.what());
    } catch (const std::exception& e) {
        return usage_error("cannot load plug-in '" + o.plugin + "': " + e.what());
    }

    std::vector<hxhost::ArrayPtr> inputs;
    std::vector<const haArray*> raw;
    for (std::size_t k = 0; k < o.args.size(); ++k) {
        try {
            inputs.push_back(hxrun::parse_literal(o.args[k]));
        } catch (const std::exception& e) {
            return usage_error("argument " + std::to_string(k + 1) + " '" + o.args[k] +
                               "': " + e.what());
        }
        raw.push_back(inputs.back().get());
    }

    // Output destinations are checked before the call, so a long run is not wasted.
    FilePtr json_file;
    if (!o.json.empty() && o.json != "-") {
        json_file.reset(std::fopen(o.json.c_str(), "w"));
        if (!json_file)
            return usage_error("cannot write '" + o.json + "': " + std::strerror(errno));
    }
    struct stat st {};
    if (!o.npy.empty() && stat(o.npy.c_str(), &st) != 0 && mkdir(o.npy.c_str(), 0777) != 0)
        return usage_error("cannot create folder '" + o.npy + "': " + std::strerror(errno));
    if (!o.npy.empty() && (stat(o.npy.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
        return usage_error("'" + o.npy + "' is not a folder");

    hxhost::install_sigint_handler();
    hxhost::CallOptions options;
    options.interrupt_at = o.interrupt_at;
    const int fds_before = hxhost::open_fd_count();
    const hxhost::CallResult result = plugin->call(static_cast<int>(o.nout), raw, options);
    const int fds_after = hxhost::open_fd_count();

    try {
        if (!o.json.empty()) {
            const std::string doc = hxrun::json_document(result, fds_before, fds_after);
            std::FILE* out = json_file ? json_file.get() : stdout;
            if (std::fwrite(doc.data(), 1, doc.size(), out) != doc.size() ||
                !hxb::close_file(json_file))
                throw std::runtime_error("cannot write '" + o.json + "'");
        }
        if (!o.npy.empty())
            write_npy_outputs(o.npy, result.outputs);
        if (o.json.empty() && o.npy.empty())
            hxrun::print_outputs(stdout, result.outputs);
    } catch (const std::exception& e) {
        return usage_error(e.what());
    }
    std::fflush(stdout);
    if (result.ok)
        return kExitOk;
    std::fprintf(stderr, "%s: %s\n", result.identifier.c_str(), result.message.c_str());
    return ends_with(result.identifier, ":IterruptedByUser") ? kExitInterrupted : kExitPluginError;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    try {
        o = parse_options(argc, argv);
    } catch (const UsageError& e) {
        return usage_error(e.what());
    }
    if (o.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    return run(o, argv[0]);
}
