// The call of a plug-in's entry from Python. Private to the extension helixo._host.
#pragma once

#include "convert.h"

namespace helixo_python {

// Calls the plug-in with the converted inputs and nout outputs; returns the converted outputs.
// Runs under the host lock with the GIL released while the plug-in runs. Raises TypeError
// ("input K: ...") for an input without a host array, helixo.HelixoError or
// helixo.Interrupted for the plug-in's error (after its console text reached sys.stdout),
// KeyboardInterrupt for a Ctrl-C that no poll serviced (handle_sigint only), and
// RuntimeError for a call made from inside a running call's console write.
py::tuple call_plugin(const hxhost::Plugin& plugin, const py::tuple& inputs, long nout,
                      long interrupt_at, bool handle_sigint);

} // namespace helixo_python
