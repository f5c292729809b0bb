"""The flatmark plug-in: indexes a flat text file into an index file.

``index(kind, source, index, ...)`` reads the text file once and writes the index file: a
512-byte header, optionally the key of every entry, and the table of the entries' byte
offsets. ``helixo.FlatIndex`` reads the result; ``helixo.traitmark.append`` adds feature
columns to it.
"""

from __future__ import annotations

from typing import Optional, Tuple, Union

from . import _arguments as arg
from .calls import call

__all__ = ["KINDS", "index"]

#: The indexer types: multi-row table, table, FASTA, FASTQ, and flat file with entry
#: delimiter lines.
KINDS: Tuple[str, ...] = ("mrtab", "table", "fasta", "fastq", "flat")


def index(kind: str, source: arg.PathArg, index: arg.PathArg, *, wide: bool = True,
          consecutive: bool = True, keys: bool = True, key_fields: int = 0,
          key_token: str = "", comment: str = "", header: str = "",
          field_delimiter: str = "\t", entry_delimiter: str = "",
          nout: int = 2) -> Union[None, int, Tuple[int, int]]:
    """Indexes the text file ``source`` into the index file ``index``.

    Args:
        kind: the indexer type: "mrtab" (an entry is a run of lines sharing a key), "table"
            (a line), "fasta", "fastq" or "flat" (lines up to an entry delimiter line).
        source: the text file to index (str or os.PathLike).
        index: the index file, created or emptied.
        wide: 8-byte offsets (True) or 4-byte offsets (False).
        consecutive: the consecutive offset table (N + 1 offsets) rather than the paired one
            (N start, end pairs); always consecutive for "fasta" and "fastq".
        keys: write the key of every entry into the index file.
        key_fields: the number of fields before the key on a line ("mrtab", "table"; 0 to
            255, the low eight bits of the number are used).
        key_token: "flat": the text after which an entry's key stands ("": the first word).
        comment: "mrtab", "table": lines beginning with it are skipped ("": none).
        header: "mrtab", "table", "flat": leading lines beginning with it are skipped.
        field_delimiter: "mrtab", "table": its first character separates the fields.
        entry_delimiter: "flat": a line beginning with it ends an entry; recorded in the
            index header for every type.
        nout: 2 (default), 1 (the number of entries only) or 0.
    Returns:
        ``(entries, lines)`` as Python ints: the number of entries and of lines counted.
    Raises:
        HelixoError: ``helixo:flatmark:`` + ``InvalidIndexerType``, ``UnknownIndexerType``,
        ``InvalidFileName``, ``CannotOpenInFile``, ``CannotOpenIdxFile``,
        ``InvalidCommentPrefix`` (key token or comment prefix too long),
        ``InvalidHeaderPrefix``, ``InvalidFieldDelimiter`` (an empty delimiter),
        ``InvalidEntryDelimiter`` (too long, or empty for "flat"), ``KeyNotFound``,
        ``KeyTooLong``, ``OffsetOverflow`` (a file of 4 GiB or more with 4-byte offsets),
        ``TooManyEntries``, ``CannotReadInFile``, ``CannotWriteIdxFile``;
        Interrupted: ``helixo:flatmark:IterruptedByUser``.
    """
    f = "flatmark.index"
    inputs = [
        arg.text(f, "kind", kind),
        arg.path(f, "source", source),
        arg.path(f, "index", index),
        arg.flag(f, "wide", wide),
        arg.flag(f, "consecutive", consecutive),
        arg.flag(f, "keys", keys),
        arg.number(f, "key_fields", key_fields),
        arg.text(f, "key_token", key_token),
        arg.text(f, "comment", comment),
        arg.text(f, "header", header),
        arg.text(f, "field_delimiter", field_delimiter),
        arg.text(f, "entry_delimiter", entry_delimiter),
    ]
    outputs = call("flatmark", *inputs, nout=arg.count(f, "nout", nout))
    counts: Tuple[Optional[int], ...] = tuple(None if v is None else int(v) for v in outputs)
    return arg.shape_outputs(counts, ())

