"""``FlatIndex``: an index file that flatmark wrote, and the columns traitmark appended to it,
read through a memory map.

    with FlatIndex("reads.idx", "reads.fastq") as ix:
        record = ix.entry(ix.find("read_17")[0])
        lengths = ix.columns("fastq", ["Length"])["Length"]

The file is checked when it is opened (header, keys section, offset table); the source file is
only read by ``entry``. Arrays handed out are read-only views of the mapping, so they cost no
copy and stay valid after ``close()``: the mapping is released when the last of them is gone.
"""

from __future__ import annotations

import mmap
import operator
import os
import sys
from typing import Any, Dict, Iterable, List, Optional, Tuple, Union

import numpy as np

from . import _arguments
from . import _index_format as fmt

PathArg = Union[str, "os.PathLike[str]"]


def _entry_number(i: Any) -> int:
    try:
        return operator.index(i)
    except TypeError:
        raise TypeError(f"FlatIndex: an entry number must be an integer, not "
                        f"{type(i).__name__}") from None


class _Mapping:
    """A whole file mapped read-only; an empty file stands as an empty bytes object, which
    mmap cannot map."""

    def __init__(self, path: str) -> None:
        with open(path, "rb") as file:
            self.size = os.fstat(file.fileno()).st_size
            self.buffer: Any = (mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)
                                if self.size else b"")

    def close(self) -> None:
        """Unmaps the file, unless arrays handed out still view it: the mapping then goes with
        the last of them."""
        if isinstance(self.buffer, mmap.mmap):
            try:
                self.buffer.close()
            except BufferError:
                pass
        self.buffer = b""


class FlatIndex:
    """An index file of flatmark (and the feature columns traitmark appended), memory-mapped.

    ``FlatIndex(index, source=None)``: ``index`` names the index file and ``source`` the text
    file it indexes (only ``entry`` reads it), each a ``str`` or ``os.PathLike``; ``TypeError``
    for any other type, ``OSError`` when a file cannot be opened. Entry numbers are 0-based.

    Raises ``HelixoError`` with identifier ``helixo:python:InvalidIndexFile`` (message: the
    file, the field and its byte position) for a file without the magic, of another version or
    layout, whose keys or table positions or entry count do not fit its size, whose keys
    section does not hold one line per entry, or whose offsets go back.

    The mapping is a snapshot: columns appended after the file was opened are seen by a new
    ``FlatIndex``. Use it as a context manager, or call ``close()``, to release the files.
    Appending (traitmark) is safe while a file is open; indexing it anew (flatmark empties
    it) or cutting the source short is not, while it or arrays from it are alive: mapped
    bytes past a file's new end cannot be read.
    """

    def __init__(self, index: PathArg, source: Optional[PathArg] = None) -> None:
        self.path = _arguments.path("FlatIndex", "index", index)
        self.source = None if source is None else _arguments.path("FlatIndex", "source", source)
        self._index: Optional[_Mapping] = None
        self._source: Optional[_Mapping] = None
        self._table: Any = None
        self._offsets: Optional[np.ndarray] = None
        self._views: list = []
        self._keys: Optional[List[str]] = None
        self._lookup: Optional[tuple] = None
        try:
            self._open()
        except BaseException:
            self.close()
            raise

    def _open(self) -> None:
        self._index = _Mapping(self.path)
        buffer, size = self._index.buffer, self._index.size
        header = fmt.parse_header(self.path, buffer[:fmt.HEADER_SIZE], size)
        fmt.check_keys_section(self.path, buffer, header)
        fmt.check_offsets(self.path, buffer, header)
        self._header = header
        self._n = header.entries
        self._consecutive = header.consecutive
        offsets = np.frombuffer(buffer, header.dtype, header.table_values,
                                header.table_position)
        self._offsets = offsets if header.consecutive else offsets.reshape(header.entries, 2)
        self._table = self._fast_table(buffer, header)
        if self.source is not None:
            self._source = _Mapping(self.source)

    def _fast_table(self, buffer: Any, header: fmt.Header) -> Any:
        # A memoryview cast reads one offset as a Python int at C speed (a numpy scalar would
        # cost more than the rest of entry()); its items are native, so a big-endian machine
        # takes a list instead.
        if sys.byteorder != "little":
            return self._offsets.reshape(-1).tolist()
        whole = memoryview(buffer)
        part = whole[header.table_position:header.table_end]
        table = part.cast("I" if header.offset_size == 4 else "Q")
        self._views = [table, part, whole]
        return table

    # -- the header -------------------------------------------------------------------------

    @property
    def n(self) -> int:
        """The number of entries N."""
        return self._n

    def __len__(self) -> int:
        return self._n

    @property
    def wide(self) -> bool:
        """Whether the offsets are 8 bytes wide (4 bytes otherwise)."""
        return self._header.offset_size == 8

    @property
    def consecutive(self) -> bool:
        """Whether the table is consecutive (N + 1 offsets) rather than paired (N pairs)."""
        return self._consecutive

    @property
    def entry_delimiter(self) -> str:
        """The entry delimiter the file was indexed with (recorded for every type)."""
        return fmt.decode_text(self._header.entry_delimiter)

    @property
    def offsets(self) -> np.ndarray:
        """The offset table, a read-only view of the mapped file (uint32 or uint64): N + 1
        offsets into the source for the consecutive layout (entry i from ``offsets[i]`` to
        ``offsets[i + 1]``), an N-by-2 array of (start, end) rows for the paired one."""
        self._check_open()
        return self._offsets

    # -- keys -------------------------------------------------------------------------------

    @property
    def keys(self) -> Optional[List[str]]:
        """The key of every entry in entry order, or ``None`` when the file was indexed with
        keys off. Read at the first use; each key's bytes are decoded as the host decodes a
        plug-in's text (UTF-8, a byte that is not valid UTF-8 as the character of its code)."""
        if self._header.keys_position == 0:
            return None
        if self._keys is None:
            self._check_open()
            raw = self._index.buffer[self._header.keys_position:self._header.table_position]
            self._keys = fmt.decode_text(raw).split("\n")[:-1]
        return self._keys

    def find(self, key: str) -> np.ndarray:
        """The entry numbers (0-based, ascending, an int64 array; empty when none) whose key
        equals ``key`` exactly. The lookup is built at the first call.

        Raises ``TypeError`` when ``key`` is not a ``str`` and ``ValueError`` when the file has
        no keys (it was indexed with keys off)."""
        if not isinstance(key, str):
            raise TypeError(f"FlatIndex.find: key must be a str, not {type(key).__name__}")
        if self._lookup is None:
            keys = self.keys
            if keys is None:
                raise ValueError(f"FlatIndex.find: {self.path} has no keys (it was indexed "
                                 f"with keys off)")
            self._lookup = self._build_lookup(keys)
        last, order, groups = self._lookup
        group = last.get(key)
        if group is None:
            return np.empty(0, np.int64)
        if order is None:
            return np.array([group], np.int64)
        begin = int(np.searchsorted(groups, group, "left"))
        end = int(np.searchsorted(groups, group, "right"))
        return order[begin:end].copy()

    @staticmethod
    def _build_lookup(keys: List[str]) -> tuple:
        # Each key maps to the number of its last entry, which also names its group; entries
        # sorted stably by group then list each group's entries in ascending order.
        last = dict(zip(keys, range(len(keys))))
        if len(last) == len(keys):
            return last, None, None
        group_of = np.fromiter(map(last.__getitem__, keys), np.int64, len(keys))
        order = np.argsort(group_of, kind="stable")
        return last, order, group_of[order]

    # -- entries ----------------------------------------------------------------------------

    def span(self, i: int) -> Tuple[int, int]:
        """``(start, end)`` of entry ``i`` (0-based) as byte positions in the source: the
        entry is the bytes from ``start`` up to, not including, ``end``.

        Raises ``TypeError`` when ``i`` is not an integer (``int`` or a numpy integer),
        ``IndexError`` when it is outside 0 to n - 1, ``ValueError`` after ``close()``."""
        if i.__class__ is not int:
            i = _entry_number(i)
        if not 0 <= i < self._n:
            raise IndexError(f"FlatIndex: entry {i} is outside 0 to {self._n - 1} "
                             f"({self.path})")
        table = self._table
        if table is None:
            self._check_open()
        if self._consecutive:
            return table[i], table[i + 1]
        return table[2 * i], table[2 * i + 1]

    def entry(self, i: int) -> bytes:
        """The bytes of entry ``i`` (0-based) read from the source, exactly as flatmark
        delimits the entry (``span(i)``).

        Raises ``TypeError`` and ``IndexError`` as ``span`` does, ``ValueError`` when the
        FlatIndex was opened without a source (or is closed), and ``HelixoError``
        ``helixo:python:InvalidIndexFile`` when the entry ends past the end of the source (the
        index is not the source's)."""
        start, end = self.span(i)
        source = self._source
        if source is None:
            raise ValueError(f"FlatIndex.entry: {self.path} was opened without a source file")
        if end > source.size:
            raise fmt.invalid(self.path, f"Entry {i} ends at byte {end} of the source, past "
                                         f"the end of {self.source} ({source.size} bytes).")
        return source.buffer[start:end]

    # -- appended columns -------------------------------------------------------------------

    def columns(self, kind: str, names: Union[str, Iterable[str]]) -> Dict[str, np.ndarray]:
        """The feature columns traitmark appended after the offset table, as read-only views
        of the mapped file: a dict from each name to its N values (uint8, uint16 or uint32,
        by the feature's width), in the order given.

        ``kind`` is traitmark's indexer type ("sam", "fasta", "fastq") and ``names`` the
        features in the order they were appended (a single name may be given as a str).
        The file records no names, so only the widths are checked: the named columns must
        account for every byte after the offset table.

        Raises ``TypeError`` for arguments that are not texts, ``ValueError`` for an unknown
        type or feature or a name given twice (a dict holds one column per name), and
        ``HelixoError`` ``helixo:python:InvalidIndexFile`` when the named columns need more
        bytes than follow the table, or leave some over."""
        if not isinstance(kind, str):
            raise TypeError(f"FlatIndex.columns: kind must be a str, not {type(kind).__name__}")
        names = [names] if isinstance(names, str) else list(names)
        for name in names:
            if not isinstance(name, str):
                raise TypeError(f"FlatIndex.columns: names must be texts, not "
                                f"{type(name).__name__}")
        widths = fmt.column_widths(kind, names)
        if len(set(names)) != len(names):
            raise ValueError(f"FlatIndex.columns: a name is given twice in {names}")
        self._check_open()
        positions = fmt.column_positions(self.path, self._header, self._index.size, names,
                                         widths)
        buffer = self._index.buffer
        return {name: np.frombuffer(buffer, f"<u{width}", self._n, at)
                for name, width, at in zip(names, widths, positions)}

    # -- lifetime ---------------------------------------------------------------------------

    def _check_open(self) -> None:
        if self._index is None:
            raise ValueError(f"FlatIndex: {self.path} is closed")

    @property
    def closed(self) -> bool:
        """Whether ``close()`` was called."""
        return self._index is None

    def close(self) -> None:
        """Releases the index file and the source. Arrays handed out stay valid (the mapping
        goes with the last of them); the other methods raise ``ValueError`` afterwards.
        Closing twice is harmless."""
        self._table = None
        for view in self._views:
            view.release()
        self._views = []
        self._offsets = None
        for mapping in (self._index, self._source):
            if mapping is not None:
                mapping.close()
        self._index = self._source = None

    def __enter__(self) -> "FlatIndex":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        if self._index is None:
            return f"<FlatIndex {self.path!r}, closed>"
        layout = "consecutive" if self._consecutive else "paired"
        return (f"<FlatIndex {self.path!r}: {self._n} entries, {layout}, "
                f"{self._header.offset_size}-byte offsets>")
