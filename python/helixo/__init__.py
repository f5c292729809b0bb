"""helixo: the alignport, flatmark and traitmark plug-ins from Python and numpy.

``helixo.call`` calls a plug-in's entry as the host would; ``helixo.alignport``,
``helixo.flatmark`` and ``helixo.traitmark`` have one function per service;
``helixo.Alignments`` and ``helixo.FlatIndex`` read BAM files and index files. Errors are
``helixo.HelixoError`` (identifier and message of the plug-in) and ``helixo.Interrupted``
(the user's stop, a ``KeyboardInterrupt``). The plug-ins are loaded at the first call
that needs them (``HELIXO_PLUGIN_PATH`` names a folder that overrides the lookup).
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
