"""The call layer: a plug-in's entry called from Python as the host would call it.

``call(plugin, *inputs, nout=0, interrupt_at=0)`` converts the inputs to host arrays, calls
``hxFunction`` of the plug-in and converts its outputs back (the conversions live in the
extension ``helixo._host``). Plug-ins are found beside the package (the build tree's package
folder, then the build tree's ``bin``), else in the install tree's ``lib/helixo``;
``HELIXO_PLUGIN_PATH`` names a folder that replaces that lookup.
"""

from __future__ import annotations

import operator
import os
import pathlib
import threading
from typing import Any, Union

import numpy as np

from .errors import HelixoError

__all__ = ["call", "live_arrays", "plugin_candidates"]

PLUGIN_NOT_FOUND = "helixo:python:PluginNotFound"
_PACKAGE_DIR = pathlib.Path(__file__).resolve().parent
_SUFFIX = ".so"

_loaded: dict[str, Any] = {}
_load_lock = threading.Lock()


def _host():
    # The extension is imported at the first call, so that `import helixo` works in a tree
    # where it is not built yet (a source checkout, say) and only calls fail.
    from . import _host as host  # pylint: disable=import-outside-toplevel
    return host


def _install_lib_dir(package_dir: pathlib.Path) -> Union[pathlib.Path, None]:
    """The install tree's lib folder: the nearest ancestor of the package named lib*
    (``<prefix>/lib/python3.X/dist-packages/helixo`` gives ``<prefix>/lib``)."""
    for ancestor in package_dir.parents:
        if ancestor.name.startswith("lib"):
            return ancestor
    return None


def plugin_candidates(name: str) -> list[pathlib.Path]:
    """The files tried, in order, for the plug-in called ``name`` (e.g. ``"alignport"``).

    With ``HELIXO_PLUGIN_PATH`` set, only that folder; otherwise the package's folder, the
    build tree's ``bin`` folder (``../../bin`` from the package) and the install tree's
    ``lib/helixo``.
    """
    file_name = name + _SUFFIX
    override = os.environ.get("HELIXO_PLUGIN_PATH")
    if override:
        return [pathlib.Path(override) / file_name]
    candidates = [_PACKAGE_DIR / file_name, _PACKAGE_DIR.parent.parent / "bin" / file_name]
    lib = _install_lib_dir(_PACKAGE_DIR)
    if lib is not None:
        candidates.append(lib / "helixo" / file_name)
    return candidates


def _is_bare_name(plugin: Union[str, os.PathLike]) -> bool:
    # As hxrun reads its PLUGIN word: a path has a slash or a library suffix.
    return isinstance(plugin, str) and "/" not in plugin and not plugin.endswith(
        (".so", ".dylib")) and plugin not in ("", ".", "..")


def _load(plugin: Union[str, os.PathLike]):
    """The loaded plug-in for a name or a path (cached); raises PluginNotFound."""
    if isinstance(plugin, os.PathLike):
        path = os.fspath(plugin)
        if not isinstance(path, str):
            raise TypeError("plugin: a plug-in path must be a str or a str os.PathLike, "
                            f"not {type(path).__name__}")
        tried = [pathlib.Path(os.path.abspath(path))]
    elif isinstance(plugin, str):
        tried = (plugin_candidates(plugin) if _is_bare_name(plugin)
                 else [pathlib.Path(os.path.abspath(plugin))])
    else:
        raise TypeError("plugin: a plug-in is named by a str or an os.PathLike, "
                        f"not {type(plugin).__name__}")
    key = "\0".join(str(path) for path in tried)
    with _load_lock:
        if key in _loaded:
            return _loaded[key]
        host = _host()
        failures = []
        for path in tried:
            if _is_bare_name(plugin) and not path.is_file():
                failures.append(f"{path} (no such file)")
                continue
            try:
                handle = host.load(str(path))
            except RuntimeError as error:
                failures.append(f"{path} ({error})")
                continue
            _loaded[key] = handle
            return handle
        raise HelixoError(PLUGIN_NOT_FOUND,
                          f"Plug-in '{os.fspath(plugin)}' could not be loaded; tried: "
                          + "; ".join(failures) + ".")


def _count(name: str, value: Any) -> int:
    # Any integer (numpy's included) but a bool, which is a flag rather than a count.
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if value < 0:
        raise ValueError(f"{name} must be 0 or more, not {value}")
    return value


def call(plugin: Union[str, os.PathLike], *inputs: Any, nout: int = 0,
         interrupt_at: int = 0) -> tuple:
    """Calls a plug-in's entry point as the host would and returns its outputs.

    Args:
        plugin: ``"alignport"``, ``"flatmark"``, ``"traitmark"`` (found as described in the
            module's docstring), or the path of a plug-in library (str or os.PathLike).
        *inputs: the input arrays, each converted to a host array: str (text; ``""`` is the
            0-by-0 char array), bool and numpy.bool_ (logical), int and float (double),
            complex (complex double), numpy scalars and ndarrays (their class; a 1-d array of n
            is an n-by-1 column, a 2-d array keeps its rows and columns), list and tuple (a
            1-by-n cell of converted elements), None (0-by-0 double), os.PathLike (its text).
        nout: the number of outputs asked for (an int, 0 or more).
        interrupt_at: K >= 1 raises the stop request at the plug-in's K-th poll, counted from
            1 over both kinds of poll (as ``hxrun --interrupt-at K``); 0 for none.

    Returns:
        A tuple of ``nout`` outputs: numpy scalars for 1-by-1 numeric or logical arrays, 1-d
        ndarrays for vectors and empty arrays, ndarrays of the host's dimensions otherwise
        (numeric data is not copied), str for text (a list of row strings for a char matrix),
        lists for cells, None for a slot the plug-in left unset.

    Raises:
        TypeError: an input (named "input K", from 1) has no host array, or nout/interrupt_at
            is not an int.
        ValueError: nout or interrupt_at is negative.
        HelixoError: the plug-in's error (its identifier and message), or
            ``helixo:python:PluginNotFound`` when the plug-in cannot be found or loaded.
        Interrupted: the plug-in stopped at the user's request (Ctrl-C or interrupt_at).
        KeyboardInterrupt: Ctrl-C came during a call that ended without servicing it.
    """
    nout = _count("nout", nout)
    interrupt_at = _count("interrupt_at", interrupt_at)
    handle = _load(plugin)
    on_main_thread = threading.current_thread() is threading.main_thread()
    return _host().call(handle, inputs, nout, interrupt_at, on_main_thread)


def live_arrays() -> int:
    """The stand-in host's count of live arrays: a call leaks nothing when the count is the
    same before and after it (outputs held by Python count until they are collected)."""
    return _host().live_arrays()
