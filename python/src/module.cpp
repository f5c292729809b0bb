// helixo._host: the stand-in host from Python. load() maps a plug-in once per path, call()
// calls its entry; live_arrays() and open_fd_count() are the host's own counters;
// request_interrupt() raises the host's stop request from any thread.
#include "host_call.h"

#include <map>
#include <memory>

namespace {

namespace py = pybind11;

// Plug-ins stay mapped for the life of the process (as in the host), one per path.
const hxhost::Plugin& load(const std::string& path) {
    static std::map<std::string, std::unique_ptr<hxhost::Plugin>> loaded;
    auto found = loaded.find(path);
    if (found == loaded.end())
        found = loaded.emplace(path, std::make_unique<hxhost::Plugin>(path)).first;
    return *found->second;
}

} // namespace

PYBIND11_MODULE(_host, m) {
    m.doc() = "The stand-in host inside the Python process (private to helixo; use helixo.call).";

    py::class_<hxhost::Plugin>(m, "Plugin", "A loaded plug-in library.")
        .def_property_readonly("path", &hxhost::Plugin::path, "The path it was loaded from.")
        .def("__repr__",
             [](const hxhost::Plugin& p) { return "<helixo plug-in " + p.path() + ">"; });

    m.def("load", &load, py::arg("path"), py::return_value_policy::reference,
          "Loads the plug-in library at path (once per path) and returns its handle.\n"
          "Raises RuntimeError with the loader's message when it cannot be loaded or has no\n"
          "hxFunction entry point.");
    m.def("call", &helixo_python::call_plugin, py::arg("plugin"), py::arg("inputs"),
          py::arg("nout"), py::arg("interrupt_at"), py::arg("handle_sigint"),
          "Calls the plug-in's entry with the inputs (a tuple) and nout outputs; returns a\n"
          "tuple of nout converted outputs. interrupt_at=K raises the stop request at poll K;\n"
          "handle_sigint turns Ctrl-C into the host's stop request for the call's duration.");
    m.def(
        "live_arrays",
        [] {
            helixo_python::drain_released();
            return hxhost::live_arrays();
        },
        "The host's count of live arrays (arrays that numpy released are freed first when\n"
        "no call is running).");
    // The stop request of a process whose plug-in call runs on a thread that SIGINT does not
    // reach (a worker thread of a parallel run): one atomic store, safe from any thread, seen
    // by the running call at its next poll. A call that starts later clears it first.
    m.def("request_interrupt", &hxhost::request_interrupt,
          "Raises the host's stop request: the running plug-in call, on whatever thread, stops\n"
          "at its next poll. Without a running call it has no effect on the next call.");
    m.def("open_fd_count", &hxhost::open_fd_count,
          "Open file descriptors of this process, or -1 where the platform cannot tell.");
}
