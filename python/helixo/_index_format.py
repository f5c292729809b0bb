"""The layout of an index file, as flatmark writes it and traitmark extends it.

Bytes 0 to 511 are the header (all integers unsigned, least significant byte first):

=======  ====  ==========================================================
offset   size  field
=======  ====  ==========================================================
0        7     magic "QZRidx" and the byte 0x01
7        4     version " 2.0"
11       1     reserved, 0
12       4     entry count N
16       8     keys position: 512 with a keys section, 0 without
24       8     offset table position
32       1     layout: 1 consecutive, 0 paired
33       1     offset width byte: 0 for 4-byte offsets, any other value 8
34       k     entry delimiter, then a TAB and a zero byte; zeros to 511
=======  ====  ==========================================================

The keys section (one key and a line feed per entry) runs from byte 512 to the offset table;
the table holds N + 1 offsets (consecutive) or N (start, end) pairs (paired); every column
that traitmark appended follows it, N values each of its feature's fixed width.

The positions, sizes and texts, and the width of each feature, are those the C++ code writes
with: the extension exports them as ``helixo._host.index_format``, and this module reads them
from there (``HEADER_SIZE``, ``MAGIC``, ``VERSION`` and ``FEATURE_WIDTHS`` among its names).

Everything here checks a file against this layout and raises ``InvalidIndexFile`` naming the
field and its byte position; nothing here keeps state.
"""

from __future__ import annotations

import codecs
from dataclasses import dataclass
from typing import Any, List, Optional, Tuple

import numpy as np

from .errors import HelixoError

INVALID_INDEX_FILE = "helixo:python:InvalidIndexFile"


def _format() -> Any:
    """The extension's ``index_format``. Imported at first use, as the plug-in calls import the
    extension, so that ``import helixo`` works in a tree where it is not built yet."""
    from . import _host  # pylint: disable=import-outside-toplevel
    return _host.index_format


# The format's names that this module offers: the header size, the magic and version texts,
# and {indexer type: {feature name: bytes every value takes, whatever feature type traitmark
# was given}}.
_EXPORTED = ("HEADER_SIZE", "MAGIC", "VERSION", "FEATURE_WIDTHS")


def __getattr__(name: str) -> Any:
    if name in _EXPORTED:
        return getattr(_format(), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def _byte_as_its_code(error: UnicodeError) -> Tuple[str, int]:
    # The host's rule: a byte that does not begin valid UTF-8 becomes the character of its code.
    if not isinstance(error, UnicodeDecodeError):
        raise error
    return chr(error.object[error.start]), error.start + 1


_HOST_BYTES = "helixo.host-bytes"
codecs.register_error(_HOST_BYTES, _byte_as_its_code)


def decode_text(raw: bytes) -> str:
    """Text of bytes as the host reads a plug-in's text: UTF-8, and every byte that does not
    begin a valid UTF-8 sequence as the character with that byte's code. Never fails."""
    return raw.decode("utf-8", _HOST_BYTES)


def invalid(path: str, message: str) -> HelixoError:
    """The error of a damaged or foreign index file: ``"PATH: MESSAGE"``."""
    return HelixoError(INVALID_INDEX_FILE, f"{path}: {message}")


@dataclass(frozen=True)
class Header:
    """The checked fields of an index file's header, and where its parts lie."""

    entries: int
    keys_position: int
    table_position: int
    consecutive: bool
    offset_size: int
    entry_delimiter: bytes

    @property
    def table_values(self) -> int:
        """The number of offsets in the table: N + 1 (consecutive) or 2N (paired)."""
        return self.entries + 1 if self.consecutive else 2 * self.entries

    @property
    def table_end(self) -> int:
        """The byte position right after the offset table: where appended columns begin."""
        return self.table_position + self.table_values * self.offset_size

    @property
    def dtype(self) -> np.dtype:
        """The numpy type of one offset (little-endian uint32 or uint64)."""
        return np.dtype("<u4" if self.offset_size == 4 else "<u8")


def _unsigned(data: bytes, at: int, size: int) -> int:
    return int.from_bytes(data[at:at + size], "little")


def parse_header(path: str, data: bytes, file_size: int) -> Header:
    """Checks the first 512 bytes of an index file of ``file_size`` bytes and the positions
    and counts they give against that size. Raises ``InvalidIndexFile`` for the first field
    that does not fit."""
    form = _format()
    size, magic, version = form.HEADER_SIZE, form.MAGIC, form.VERSION
    if file_size < size:
        raise invalid(path, f"The file has {file_size} bytes, fewer than the "
                            f"{size}-byte header of an index file.")
    found = bytes(data[form.MAGIC_AT:form.MAGIC_AT + len(magic)])
    if found != magic:
        raise invalid(path, f"Magic at byte {form.MAGIC_AT} is {found!r}, not an index "
                            f"file's {magic!r}.")
    found = bytes(data[form.VERSION_AT:form.VERSION_AT + len(version)])
    if found != version:
        raise invalid(path, f"Version at byte {form.VERSION_AT} is {found!r}; only {version!r} "
                            f"is read.")
    reserved = data[form.RESERVED_AT]
    if reserved != 0:
        raise invalid(path, f"Reserved byte at byte {form.RESERVED_AT} is {reserved}, not 0.")
    layout = data[form.LAYOUT_AT]
    if layout not in (form.LAYOUT_CONSECUTIVE, form.LAYOUT_PAIRED):
        raise invalid(path, f"Layout at byte {form.LAYOUT_AT} is {layout}, neither "
                            f"{form.LAYOUT_CONSECUTIVE} (consecutive) nor {form.LAYOUT_PAIRED} "
                            f"(paired).")
    # The delimiter holds no zero byte (it is a C text), so its end is the first zero.
    zero = data.find(b"\x00", form.DELIMITER_AT, size)
    if zero <= form.DELIMITER_AT or data[zero - 1] != 0x09:
        raise invalid(path, f"Entry delimiter at byte {form.DELIMITER_AT} does not end with a "
                            f"TAB and a zero byte within the header.")
    padding = data[zero + 1:size]
    if padding.count(0) != len(padding):
        first = zero + 1 + next(k for k, b in enumerate(padding) if b != 0)
        raise invalid(path, f"Header padding at byte {first} is not zero.")

    entries = _unsigned(data, form.ENTRIES_AT, form.ENTRIES_SIZE)
    keys_position = _unsigned(data, form.KEYS_POSITION_AT, form.POSITION_SIZE)
    table_position = _unsigned(data, form.TABLE_POSITION_AT, form.POSITION_SIZE)
    if keys_position not in (0, size):
        raise invalid(path, f"Keys position at byte {form.KEYS_POSITION_AT} is {keys_position}; "
                            f"it is {size} with keys and 0 without.")
    if keys_position == 0 and table_position != size:
        raise invalid(path, f"Offset table position at byte {form.TABLE_POSITION_AT} is "
                            f"{table_position}; without keys the table begins at byte "
                            f"{size}.")
    if table_position < size:
        raise invalid(path, f"Offset table position at byte {form.TABLE_POSITION_AT} is "
                            f"{table_position}, inside the {size}-byte header.")
    if table_position > file_size:
        raise invalid(path, f"Offset table position at byte {form.TABLE_POSITION_AT} is "
                            f"{table_position}, past the end of the file ({file_size} bytes).")
    header = Header(entries=entries, keys_position=keys_position,
                    table_position=table_position, consecutive=layout == form.LAYOUT_CONSECUTIVE,
                    offset_size=form.offset_size(data[form.WIDTH_AT]),
                    entry_delimiter=bytes(data[form.DELIMITER_AT:zero - 1]))
    if header.table_end > file_size:
        raise invalid(path, f"Offset table at byte {table_position} with "
                            f"{header.table_values} offsets of {header.offset_size} bytes "
                            f"(entry count {entries} at byte {form.ENTRIES_AT}) runs past the end "
                            f"of the file ({file_size} bytes).")
    return header


def check_keys_section(path: str, buffer: Any, header: Header) -> None:
    """Checks that the keys section holds exactly N lines, each ended by a line feed, and
    nothing else before the offset table."""
    if header.keys_position == 0:
        return
    begin, end = header.keys_position, header.table_position
    ended = end == begin or buffer[end - 1] == 0x0A
    feeds = int(np.count_nonzero(np.frombuffer(buffer, np.uint8, end - begin, begin) == 0x0A))
    if feeds != header.entries or not ended:
        lines = f"{feeds} lines" if ended else f"{feeds + 1} lines, the last without a line feed,"
        raise invalid(path, f"Keys section at byte {begin} holds {lines} before the offset "
                            f"table at byte {end}: the entry count at byte "
                            f"{_format().ENTRIES_AT} asks for {header.entries}, each ended by a "
                            f"line feed.")


def _first_decrease(buffer: Any, header: Header) -> Optional[int]:
    # Kept apart from the raise, so that no view of the mapping outlives the call in a traceback.
    values = np.frombuffer(buffer, header.dtype, header.table_values, header.table_position)
    if values.size < 2:
        return None
    lower = np.flatnonzero(values[1:] < values[:-1])
    return int(lower[0]) + 1 if lower.size else None


def check_offsets(path: str, buffer: Any, header: Header) -> None:
    """Checks that the offsets never go back: consecutive offsets do not decrease, and in the
    paired layout each end is at or after its start and each start at or after the end of the
    entry before it, as flatmark writes them."""
    k = _first_decrease(buffer, header)
    if k is None:
        return
    at = header.table_position + k * header.offset_size
    values = np.frombuffer(buffer, header.dtype, 2, at - header.offset_size).tolist()
    if header.consecutive:
        what = f"offset {k} (the start of entry {k})" if k < header.entries else \
            f"offset {k} (the end of the last entry)"
    else:
        what = f"the {'end' if k % 2 else 'start'} of entry {k // 2}"
    raise invalid(path, f"Offset table at byte {header.table_position}: {what}, at byte {at}, "
                        f"is {values[1]}, below the {values[0]} before it.")


def column_widths(kind: str, names: List[str]) -> List[int]:
    """The byte width of each named feature of indexer type ``kind``; ``ValueError`` for an
    unknown type or feature name."""
    feature_widths = _format().FEATURE_WIDTHS
    features = feature_widths.get(kind)
    if features is None:
        raise ValueError(f"unknown indexer type {kind!r}: columns are read for "
                         f"{', '.join(map(repr, feature_widths))}")
    widths = []
    for name in names:
        if name not in features:
            raise ValueError(f"unknown {kind} feature {name!r}: the {kind} features are "
                             f"{', '.join(map(repr, features))}")
        widths.append(features[name])
    return widths


def column_positions(path: str, header: Header, file_size: int, names: List[str],
                     widths: List[int]) -> List[int]:
    """Where each named column begins, in append order, after checking that the columns
    account for every byte from the end of the offset table to the end of the file."""
    positions = []
    at = header.table_end
    for number, (name, width) in enumerate(zip(names, widths), start=1):
        size = header.entries * width
        if at + size > file_size:
            raise invalid(path, f"Column {number} ({name}, {header.entries} values of {width} "
                                f"bytes) at byte {at} runs past the end of the file "
                                f"({file_size} bytes).")
        positions.append(at)
        at += size
    if at != file_size:
        after = f"the {len(names)} named columns" if names else "the offset table"
        raise invalid(path, f"{file_size - at} bytes from byte {at} to the end of the file "
                            f"({file_size} bytes) follow {after}: the columns named do not "
                            f"account for them.")
    return positions
