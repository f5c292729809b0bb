// The call of a plug-in from Python: the process-wide host lock, the GIL released while the
// plug-in runs, Ctrl-C turned into the host's stop request, console text sent to sys.stdout in
// chunks, and the plug-in's error raised as helixo.HelixoError or helixo.Interrupted.
#include "host_call.h"

#include <signal.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

namespace helixo_python {

// --- the host lock ---

namespace {

std::mutex g_host_mutex;
std::atomic<std::thread::id> g_host_owner{};

std::mutex g_released_mutex;
std::vector<haArray*> g_released; // handed back while the lock was busy

void free_released() noexcept {
    std::vector<haArray*> arrays;
    {
        std::lock_guard<std::mutex> guard(g_released_mutex);
        arrays.swap(g_released);
    }
    for (haArray* a : arrays)
        hxhost::destroy(a);
}

} // namespace

HostLock::HostLock() {
    if (held_here())
        throw std::runtime_error(
            "helixo: a plug-in call was made while another call is running on this thread "
            "(from code that the running call's console output reached)");
    g_host_mutex.lock();
    g_host_owner.store(std::this_thread::get_id());
    free_released();
}

HostLock::~HostLock() {
    free_released();
    g_host_owner.store(std::thread::id());
    g_host_mutex.unlock();
}

bool HostLock::held_here() noexcept {
    return g_host_owner.load() == std::this_thread::get_id();
}

void release_array(haArray* array) noexcept {
    if (array == nullptr)
        return;
    // This thread holds the lock: between calls, or in a console write of its own call while
    // the plug-in waits in hxPrintf; either way nothing else touches the host state.
    if (HostLock::held_here()) {
        hxhost::destroy(array);
        return;
    }
    if (g_host_mutex.try_lock()) {
        hxhost::destroy(array);
        free_released();
        g_host_mutex.unlock();
        return;
    }
    try {
        std::lock_guard<std::mutex> guard(g_released_mutex);
        g_released.push_back(array);
    } catch (...) {
        // No room to queue it: the array stays alive (live_arrays shows it) rather than
        // being freed under a running call.
    }
}

void drain_released() noexcept {
    if (HostLock::held_here()) {
        free_released();
    } else if (g_host_mutex.try_lock()) {
        free_released();
        g_host_mutex.unlock();
    }
}

// --- Ctrl-C ---

namespace {

volatile std::sig_atomic_t g_sigint_seen = 0;

// A first Ctrl-C becomes the host's stop request, seen by the plug-in at its next poll; a
// second one while that request is still unserviced ends the process as Ctrl-C does by
// default, as hxrun's handler does.
extern "C" void on_sigint(int) {
    if (hxhost::interrupt_pending()) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    g_sigint_seen = 1;
    hxhost::request_interrupt();
}

// Installs on_sigint for its lifetime and puts the interpreter's handler back after, whatever
// the outcome. A SIGINT the program ignores stays ignored.
class SigintGuard {
public:
    explicit SigintGuard(bool wanted) {
        g_sigint_seen = 0;
        if (!wanted)
            return;
        struct sigaction current {};
        if (sigaction(SIGINT, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            return;
        struct sigaction mine {};
        mine.sa_handler = on_sigint;
        // Reads of pipes and slow devices resume after the signal, as under hxrun.
        mine.sa_flags = SA_RESTART;
        sigemptyset(&mine.sa_mask);
        installed_ = sigaction(SIGINT, &mine, &saved_) == 0;
    }
    ~SigintGuard() { restore(); }
    SigintGuard(const SigintGuard&) = delete;
    SigintGuard& operator=(const SigintGuard&) = delete;

    void restore() noexcept {
        if (installed_)
            sigaction(SIGINT, &saved_, nullptr);
        installed_ = false;
    }
    bool signalled() const noexcept { return g_sigint_seen != 0; }

private:
    struct sigaction saved_ {};
    bool installed_ = false;
};

// --- console ---

constexpr std::size_t kConsoleChunk = 64 * 1024;

// The console of one call: text goes to sys.stdout as it fills chunks, decoded as UTF-8 across
// chunk boundaries (bytes that are not UTF-8 become U+FFFD). The first exception that
// sys.stdout.write raises is kept; the text after it is dropped.
class ConsoleToStdout {
public:
    ConsoleToStdout() {
        decoder_ = py::module_::import("codecs").attr("getincrementaldecoder")("utf-8")("replace");
        hxhost::set_console_sink(&ConsoleToStdout::sink, this, kConsoleChunk);
    }
    ~ConsoleToStdout() { hxhost::set_console_sink(nullptr, nullptr, 0); }
    ConsoleToStdout(const ConsoleToStdout&) = delete;
    ConsoleToStdout& operator=(const ConsoleToStdout&) = delete;

    // Hands over what is still waiting (GIL held), and ends the decoder's input.
    void finish() {
        hxhost::flush_console_sink();
        write(py::bytes(), true);
    }
    // The exception a write raised, or None.
    const py::object& error() const { return error_; }

private:
    static void sink(void* context, const char* text, std::size_t size) noexcept {
        auto* self = static_cast<ConsoleToStdout*>(context);
        py::gil_scoped_acquire gil;
        try {
            self->write(py::bytes(text, size), false);
        } catch (...) {
            // write() keeps Python's exceptions; anything else is dropped with the text.
        }
    }

    void write(const py::bytes& text, bool final) {
        if (!error_.is_none())
            return;
        try {
            const py::str decoded = decoder_.attr("decode")(text, final);
            if (py::len(decoded) == 0)
                return;
            const py::object out = py::module_::import("sys").attr("stdout");
            if (!out.is_none())
                out.attr("write")(decoded);
        } catch (py::error_already_set& e) {
            error_ = e.value();
        }
    }

    py::object decoder_;
    py::object error_ = py::none();
};

// Raises the plug-in's error as the package's exception class.
[[noreturn]] void raise_plugin_error(const hxhost::CallResult& result, const py::object& cause) {
    const py::module_ errors = py::module_::import("helixo.errors");
    const bool stop = errors.attr("is_interruption")(result.identifier).cast<bool>();
    const py::object cls = errors.attr(stop ? "Interrupted" : "HelixoError");
    const py::object error =
        cls(py::str(result.identifier),
            py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(
                result.message.data(), static_cast<Py_ssize_t>(result.message.size()), "replace")));
    if (!cause.is_none())
        PyException_SetContext(error.ptr(), cause.inc_ref().ptr());
    PyErr_SetObject(cls.ptr(), error.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise_object(const py::object& exception) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    throw py::error_already_set();
}

} // namespace

py::tuple call_plugin(const hxhost::Plugin& plugin, const py::tuple& inputs, long nout,
                      long interrupt_at, bool handle_sigint) {
    if (nout < 0 || interrupt_at < 0)
        throw py::value_error("helixo: nout and interrupt_at must be 0 or more");
    if (HostLock::held_here())
        throw std::runtime_error(
            "helixo: a plug-in call was made while another call is running on this thread "
            "(from code that the running call's console output reached)");
    std::unique_ptr<HostLock> lock;
    {
        py::gil_scoped_release nogil;
        lock = std::make_unique<HostLock>();
    }

    std::vector<hxhost::ArrayPtr> arrays;
    std::vector<const haArray*> raw;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        try {
            arrays.push_back(to_host(inputs[k]));
        } catch (const InputTypeError& e) {
            throw py::type_error("input " + std::to_string(k + 1) + ": " + e.what());
        }
        raw.push_back(arrays.back().get());
    }

    hxhost::CallResult result;
    ConsoleToStdout console;
    bool signalled = false;
    {
        SigintGuard sigint(handle_sigint);
        hxhost::CallOptions options;
        options.interrupt_at = interrupt_at;
        {
            py::gil_scoped_release nogil;
            result = plugin.call(static_cast<int>(nout), raw, options);
            sigint.restore();
            // A stop request that no poll serviced (interrupt_at beyond the last poll, or a
            // Ctrl-C after it) must not reach the next call.
            hxhost::clear_interrupt();
        }
        signalled = sigint.signalled();
    }
    console.finish();
    arrays.clear();

    if (!result.ok)
        raise_plugin_error(result, console.error());
    if (signalled) {
        result.outputs.clear();
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw py::error_already_set();
    }
    if (!console.error().is_none())
        raise_object(console.error());

    py::tuple outputs(result.outputs.size());
    for (std::size_t k = 0; k < result.outputs.size(); ++k)
        outputs[k] = from_host(std::move(result.outputs[k]));
    return outputs;
}

} // namespace helixo_python
