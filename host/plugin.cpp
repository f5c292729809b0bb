// Loading a plug-in and calling its entry with the host's ownership rules.
#include "array_impl.h"
#include "hxhost.h"
#include "interrupt_impl.h"

#include <dirent.h>
#include <dlfcn.h>

#include <stdexcept>
#include <unordered_set>

namespace hxhost {

Plugin::Plugin(const std::string& path) : path_(path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        throw std::runtime_error(why != nullptr ? why : ("cannot load " + path));
    }
    entry_ = reinterpret_cast<EntryPoint>(dlsym(handle_, "hxFunction"));
    if (entry_ == nullptr)
        throw std::runtime_error(path + ": no hxFunction entry point");
}

// The library stays mapped for the life of the process: unloading a plug-in that links a
// static library with its own global state gains nothing and loses symbols for diagnostics.
Plugin::~Plugin() = default;

CallResult Plugin::call(int outCount, const std::vector<const haArray*>& inputs,
                        const CallOptions& options) const {
    CallResult result;
    const std::size_t slot_count = outCount > 0 ? static_cast<std::size_t>(outCount) : 1;
    std::vector<haArray*> slots(slot_count + 1, nullptr);
    std::vector<const haArray*> args(inputs);
    args.push_back(nullptr);

    detail::arena_open();
    clear_interrupt();
    detail::interrupts_begin_call(options.interrupt_at);
    try {
        entry_(outCount, slots.data(), static_cast<int>(inputs.size()), args.data());
        result.ok = true;
    } catch (const hx::HostError& e) {
        result.identifier = e.identifier();
        result.message = e.message();
    } catch (const std::exception& e) {
        result.foreign_exception = true;
        result.identifier = "hxhost:ForeignException";
        result.message = e.what();
    } catch (...) {
        result.foreign_exception = true;
        result.identifier = "hxhost:ForeignException";
        result.message = "unknown exception";
    }
    result.polls = detail::interrupts_end_call();

    if (result.ok) {
        std::unordered_set<const haArray*> taken;
        result.outputs.resize(static_cast<std::size_t>(outCount > 0 ? outCount : 0));
        for (std::size_t k = 0; k < result.outputs.size(); ++k) {
            haArray* out = slots[k];
            if (out == nullptr || !detail::arena_contains(out) || taken.count(out) != 0)
                continue;
            taken.insert(out);
            detail::arena_forget(out);
            result.outputs[k].reset(out);
        }
    }
    detail::arena_free_all();
    return result;
}

int open_fd_count() {
#if defined(__linux__)
    const char* dir = "/proc/self/fd";
#elif defined(__APPLE__)
    const char* dir = "/dev/fd";
#else
    return -1;
#endif
    DIR* d = opendir(dir);
    if (d == nullptr)
        return -1;
    int count = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.')
            ++count;
    }
    closedir(d);
    return count - 1; // the directory stream's own descriptor
}

} // namespace hxhost
