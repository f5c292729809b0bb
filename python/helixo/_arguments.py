"""Argument checks shared by the service wrappers.

Each check takes the wrapper's name and the parameter's name, so that a wrong Python type
raises ``TypeError`` (and a value that cannot be converted exactly raises ``ValueError``)
naming the parameter, before any plug-in runs. Values that the plug-ins check themselves
(reference numbers out of range, alignment numbers beyond the starts, ...) pass through
unchanged, so that the plug-in's own identifiers reach the user.
"""

from __future__ import annotations

import numbers
import os
from typing import Any, Optional, Sequence, Tuple, Union

import numpy as np

PathArg = Union[str, "os.PathLike[str]"]

_UINT32_MAX = (1 << 32) - 1
_UINT64_MAX = (1 << 64) - 1
_INT32_MIN = -(1 << 31)
_INT32_MAX = (1 << 31) - 1


def _kind(value: Any) -> str:
    return type(value).__name__


def _type_error(func: str, param: str, wanted: str, value: Any) -> TypeError:
    return TypeError(f"{func}: {param} must be {wanted}, not {_kind(value)}")


def path(func: str, param: str, value: Any) -> str:
    """The text of a file name given as ``str`` or ``os.PathLike`` (a bytes path is refused)."""
    if isinstance(value, str):
        return value
    if isinstance(value, os.PathLike):
        text = os.fspath(value)
        if isinstance(text, str):
            return text
    raise _type_error(func, param, "a str or os.PathLike", value)


def text(func: str, param: str, value: Any) -> str:
    """A text argument: ``str`` only."""
    if isinstance(value, str):
        return value
    raise _type_error(func, param, "a str", value)


def flag(func: str, param: str, value: Any) -> bool:
    """A flag: a Python ``bool`` or a ``numpy.bool_``, sent as a logical scalar."""
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    raise _type_error(func, param, "a bool", value)


def is_integer(value: Any) -> bool:
    """Whether a value counts as an integer here: ``int`` or a numpy integer, never a bool."""
    return isinstance(value, numbers.Integral) and not isinstance(value, (bool, np.bool_))


def number(func: str, param: str, value: Any) -> float:
    """An integer argument (``int`` or numpy integer, not ``bool``), sent as a double.

    Raises ``ValueError`` for an integer that a double cannot hold exactly.
    """
    if not is_integer(value):
        raise _type_error(func, param, "an int", value)
    whole = int(value)
    try:
        converted = float(whole)
    except OverflowError:
        converted = None
    if converted is None or int(converted) != whole:
        raise ValueError(f"{func}: {param} {whole} cannot be sent exactly as a double")
    return converted


def count(func: str, param: str, value: Any) -> int:
    """The ``nout`` of a wrapper: a non-negative ``int``."""
    if not is_integer(value):
        raise _type_error(func, param, "an int", value)
    if int(value) < 0:
        raise ValueError(f"{func}: {param} must not be negative, not {int(value)}")
    return int(value)


def text_list(func: str, param: str, value: Any) -> list:
    """A list or tuple of ``str`` (sent as a cell row of texts)."""
    if not isinstance(value, (list, tuple)):
        raise _type_error(func, param, "a list or tuple of str", value)
    for element in value:
        if not isinstance(element, str):
            raise TypeError(f"{func}: {param} must hold only str, not {_kind(element)}")
    return list(value)


def _integer_array(func: str, param: str, value: Any, wanted: str) -> np.ndarray:
    """Any integer value or array-like as an ndarray of an integer or integral float dtype."""
    if isinstance(value, (bool, np.bool_, str, bytes)):
        raise _type_error(func, param, wanted, value)
    if is_integer(value):
        return np.asarray(int(value), dtype=object).reshape(1)
    if isinstance(value, (list, tuple)):
        if any(isinstance(v, (bool, np.bool_)) or not isinstance(v, numbers.Real) for v in value):
            raise _type_error(func, param, wanted, value)
        array = np.asarray(value) if value else np.empty(0, dtype=np.int64)
        if array.dtype == object:  # Python ints beyond 64 bits
            return array
    elif isinstance(value, np.ndarray):
        array = value
    else:
        raise _type_error(func, param, wanted, value)
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{func}: {param} must be {wanted}, not an array of {array.dtype}")
    return array


def _exact(func: str, param: str, array: np.ndarray, low: int, high: int,
           dtype: type) -> np.ndarray:
    """Converts array to dtype when every element is an integer in [low, high]."""
    if array.dtype.kind == "f":
        if not np.all(np.isfinite(array)) or not np.all(array == np.trunc(array)):
            raise ValueError(f"{func}: {param} must hold whole numbers")
    if array.size:
        smallest = array.min()
        largest = array.max()
        if smallest < low or largest > high:
            raise ValueError(
                f"{func}: {param} must lie between {low} and {high}, "
                f"not {smallest if smallest < low else largest}")
    return np.asarray(array, dtype=dtype) if array.dtype != object else \
        np.array([int(v) for v in array.ravel()], dtype=dtype).reshape(array.shape)


def ordinals(func: str, param: str, value: Any) -> np.ndarray:
    """Alignment or record numbers as a uint32 array.

    A uint32 array is passed through as it is; an int, a list or tuple of ints, or an array
    of another integer (or whole-valued float) dtype is converted exactly, or ``ValueError``
    (negative, fractional, larger than 4294967295).
    """
    array = _integer_array(func, param, value, "an int or an integer array")
    if array.dtype == np.uint32:
        return array
    return _exact(func, param, array, 0, _UINT32_MAX, np.uint32)


def starts(func: str, param: str, value: Any) -> np.ndarray:
    """Starts less one, as the feature services take them: int32 or uint32.

    int32 and uint32 arrays are passed through; any other integer array is converted exactly
    to int32 when every value fits it, else to uint32, else ``ValueError``.
    """
    array = _integer_array(func, param, value, "an integer array")
    if array.dtype in (np.int32, np.uint32):
        return array
    _exact(func, param, array, _INT32_MIN, _UINT32_MAX, np.int64)  # whole and in range
    if array.size == 0 or array.max() <= _INT32_MAX:
        return _exact(func, param, array, _INT32_MIN, _INT32_MAX, np.int32)
    return _exact(func, param, array, 0, _UINT32_MAX, np.uint32)


def offsets(func: str, param: str, value: Any) -> np.ndarray:
    """Entry offsets as a 1-d uint64 or uint32 array (the dtype gives the offset width).

    uint64 and uint32 arrays are passed through; any other integer array (or list) is
    converted exactly to uint64, or ``ValueError``.
    """
    array = _integer_array(func, param, value, "an integer array")
    if array.ndim != 1:
        raise ValueError(f"{func}: {param} must be a 1-d array, not {array.ndim}-d")
    if array.dtype in (np.uint64, np.uint32):
        return array
    return _exact(func, param, array, 0, _UINT64_MAX, np.uint64)


def reference(func: str, param: str, value: Any) -> Union[float, str]:
    """A reference given by number (``int``, sent as a double) or by name (``str``)."""
    if isinstance(value, str):
        return value
    if not is_integer(value):
        raise _type_error(func, param, "an int or str", value)
    return number(func, param, value)


def as_vector(value: Any) -> Any:
    """A numeric output as a 1-d array (a 1-by-1 output arrives as a numpy scalar)."""
    if isinstance(value, np.generic):
        return np.atleast_1d(value)
    if isinstance(value, np.ndarray) and value.ndim != 1:
        return value.reshape(-1)
    return value


def shape_outputs(outputs: Sequence[Any], vectors: Sequence[bool]) -> Optional[Any]:
    """None for no outputs, the single output, or a tuple; array outputs made 1-d.

    ``vectors[k]`` says whether output k is an array (as opposed to a scalar or text).
    """
    shaped: Tuple[Any, ...] = tuple(
        as_vector(v) if k < len(vectors) and vectors[k] else v
        for k, v in enumerate(outputs))
    if not shaped:
        return None
    if len(shaped) == 1:
        return shaped[0]
    return shaped
