"""helixo: the alignport, flatmark and traitmark plug-ins from Python and numpy.

``helixo.call`` calls a plug-in's entry as the host would; ``helixo.alignport``,
``helixo.flatmark`` and ``helixo.traitmark`` have one function per service;
``helixo.Alignments`` and ``helixo.FlatIndex`` read BAM files and index files. Errors are
``helixo.HelixoError`` (identifier and message of the plug-in) and ``helixo.Interrupted``
(the user's stop, a ``KeyboardInterrupt``). The plug-ins are loaded at the first call
that needs them (``HELIXO_PLUGIN_PATH`` names a folder that overrides the lookup).
``helixo.parallel`` runs calls side by side in worker processes with Dask's distributed
scheduler; it is imported at its first use, so that ``import helixo`` does not load Dask.
"""

from .errors import HelixoError, Interrupted
from .calls import call, live_arrays
from . import alignport, flatmark, traitmark
from .alignments import Alignments
from .flatindex import FlatIndex

__all__ = [
    "Alignments",
    "FlatIndex",
    "HelixoError",
    "Interrupted",
    "alignport",
    "call",
    "flatmark",
    "live_arrays",
    "traitmark",
]


def __getattr__(name: str):
    # helixo.parallel on first use: importing Dask costs a second that most sessions never need.
    if name == "parallel":
        import importlib  # pylint: disable=import-outside-toplevel
        return importlib.import_module(".parallel", __name__)
    raise AttributeError(f"module 'helixo' has no attribute {name!r}")
