// helixo._host: the stand-in host from Python. load() maps a plug-in once per path, call()
// calls its entry; live_arrays() and open_fd_count() are the host's own counters;
// request_interrupt() raises the host's stop request from any thread. The submodule
// index_format is the index file's layout, for the Python reader of those files.
#include "host_call.h"

#include "index_format.h"
#include "traitmark/contract.h"

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

// The layout that flatmark writes and traitmark extends, taken from their own definitions so
// that the Python reader cannot drift from them: header positions and sizes, the magic and
// version texts, the layout values, and the bytes each feature's values take.
void add_index_format(py::module_& m) {
    namespace fmt = hxb::index_format;
    py::module_ f = m.def_submodule(
        "index_format", "The index file's layout as flatmark writes it and traitmark extends it.");
    f.attr("HEADER_SIZE") = fmt::kHeaderSize;
    f.attr("MAGIC") = py::bytes(fmt::kMagic, fmt::kMagicSize);
    f.attr("MAGIC_AT") = fmt::kMagicAt;
    f.attr("VERSION") = py::bytes(fmt::kVersion, fmt::kVersionSize);
    f.attr("VERSION_AT") = fmt::kVersionAt;
    f.attr("RESERVED_AT") = fmt::kReservedAt;
    f.attr("ENTRIES_AT") = fmt::kEntriesAt;
    f.attr("ENTRIES_SIZE") = fmt::kEntriesSize;
    f.attr("KEYS_POSITION_AT") = fmt::kKeysPositionAt;
    f.attr("TABLE_POSITION_AT") = fmt::kTablePositionAt;
    f.attr("POSITION_SIZE") = fmt::kPositionSize;
    f.attr("LAYOUT_AT") = fmt::kLayoutAt;
    f.attr("WIDTH_AT") = fmt::kWidthAt;
    f.attr("DELIMITER_AT") = fmt::kDelimiterAt;
    f.attr("LAYOUT_CONSECUTIVE") = fmt::kLayoutConsecutive;
    f.attr("LAYOUT_PAIRED") = fmt::kLayoutPaired;
    f.def("offset_size", &fmt::offset_size, py::arg("width_byte"),
          "Bytes of one offset for the header's width byte: 4 for 0, 8 for any other value.");
    // {indexer type: {feature name: width}}, both in the order of traitmark's table, which is
    // the order the reader's messages list them in.
    py::dict widths;
    for (const traitmark::FeatureRow& row : traitmark::kFeatures) {
        const py::str type(row.indexer_type);
        if (!widths.contains(type))
            widths[type] = py::dict();
        auto features = widths[type].cast<py::dict>();
        features[row.name] = row.width;
    }
    f.attr("FEATURE_WIDTHS") = widths;
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
    add_index_format(m);
}
