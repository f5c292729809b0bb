"""The traitmark plug-in: appends one feature column per call to an index file.

``append(kind, feature, source, index)`` seeks to each entry of a SAM, FASTA or FASTQ text
file, extracts one value per entry and appends the values, in the feature's fixed width, to
the end of the index file. By default the entry offsets are those of the index file itself
(as ``helixo.flatmark.index`` wrote them); ``helixo.FlatIndex.columns`` reads the columns back.
"""

from __future__ import annotations

import os
from typing import Any, Dict, Optional, Tuple

import numpy as np

from . import _arguments as arg
from .calls import call
from .flatindex import FlatIndex

__all__ = ["FEATURES", "append"]

#: Bytes per value of every feature, by (indexer type, feature name), in table order.
FEATURES: Dict[Tuple[str, str], int] = {
    ("sam", "Flag"): 2,
    ("sam", "Position"): 4,
    ("sam", "MappingQuality"): 1,
    ("sam", "MatePosition"): 4,
    ("sam", "MateIndex"): 4,
    ("sam", "QueryLength"): 2,
    ("sam", "EndPosition"): 4,
    ("sam", "Reference"): 1,
    ("fasta", "Length"): 4,
    ("fastq", "Length"): 2,
}

_TYPE_OF_WIDTH = {1: "uint8", 2: "uint16", 4: "uint32"}


def _needs_end(kind: str, feature: str) -> bool:
    """FASTA Length reads offset i + 1 as the end of entry i: N + 1 offsets."""
    return (kind, feature) == ("fasta", "Length")


def _index_offsets(index: str, with_end: bool) -> np.ndarray:
    """The entry starts of an index file (and the end of the last entry when with_end),
    copied out of the mapping in the file's offset width."""
    with FlatIndex(index) as flat:
        n = int(flat.n)
        table = flat.offsets
        dtype = np.uint64 if flat.wide else np.uint32
        if flat.consecutive:
            starts = np.array(table[: n + 1 if with_end else n], dtype=dtype)
        else:
            # A paired table holds (start, end) rows: the starts, then the last entry's end.
            begins = np.array(table[:, 0], dtype=dtype)
            starts = np.append(begins, np.array(table[n - 1:, 1], dtype=dtype)) \
                if with_end and n else begins
        del table
    return starts


def append(kind: str, feature: str, source: arg.PathArg, index: arg.PathArg, *,
           feature_type: Optional[str] = None, offsets: Any = None) -> None:
    """Extracts one feature of every entry of ``source`` and appends the column to ``index``.

    Args:
        kind: the indexer type of the text file: "sam", "fasta" or "fastq".
        feature: "sam": "Flag" (2 bytes), "Position" (4), "MappingQuality" (1),
            "MatePosition" (4), "MateIndex" (4), "QueryLength" (2), "EndPosition" (4),
            "Reference" (1); "fasta": "Length" (4); "fastq": "Length" (2).
        source: the text file (str or os.PathLike).
        index: the existing file the column is appended to (never created).
        feature_type: "uint8", "uint16", "uint32" or "char"; checked, without effect on the
            width. Default: the unsigned type of the feature's width, e.g. "uint16".
        offsets: the byte offsets of the entries' first characters, one per entry (for the
            FASTA "Length" one more: the end of the last entry). uint64 gives 8-byte offsets,
            uint32 4-byte ones; any other integer array or list is converted exactly to
            uint64, else ValueError. Default: the entry starts of ``index`` itself, in its
            own offset width (from a paired table, the starts and the last entry's end).
    Raises:
        HelixoError: ``helixo:traitmark:`` + ``InvalidIndexerType``, ``UnknownIndexerType``,
        ``InvalidFeatureName``, ``UnknownSamFeatureType``, ``UnknownFastaFeatureType``,
        ``UnknownFastqFeatureType``, ``InvalidFeatureType``, ``UnknownFeatureType``,
        ``InvalidFileName``, ``CannotOpenInFile``, ``CannotOpenIdxFile``, ``InvalidOffset``
        (fewer offsets than the feature reads), ``InvalidEntry``, ``InvalidCIGAR``,
        ``ValueOutOfRange`` (a value wider than its column), ``CannotReadInFile``,
        ``CannotWriteIdxFile``; ``helixo:python:InvalidIndexFile`` (default offsets from a
        file that is not an index file); Interrupted: ``helixo:traitmark:IterruptedByUser``
        (the index file is cut back to its size before the call).
    """
    f = "traitmark.append"
    kind = arg.text(f, "kind", kind)
    feature = arg.text(f, "feature", feature)
    source_name = arg.path(f, "source", source)
    index_name = arg.path(f, "index", index)
    width = FEATURES.get((kind, feature))
    if feature_type is None:
        feature_type = _TYPE_OF_WIDTH.get(width or 1, "uint8")
    else:
        feature_type = arg.text(f, "feature_type", feature_type)
    if offsets is not None:
        table = arg.offsets(f, "offsets", offsets)
    elif width is None or not os.path.isfile(index_name):
        # Nothing to read: the plug-in reports the unknown feature or the missing file.
        table = np.empty(0, dtype=np.uint32)
    else:
        table = _index_offsets(index_name, _needs_end(kind, feature))
    n = len(table) - 1 if _needs_end(kind, feature) and len(table) else len(table)
    if n > 0xFFFFFFFF:
        raise ValueError(f"{f}: offsets hold more than 4294967295 entries")
    call("traitmark", kind, feature, feature_type, source_name, index_name, None,
         np.uint32(n), bool(table.dtype == np.uint64), table, nout=0)
