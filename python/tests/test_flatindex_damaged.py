"""FlatIndex on damaged index files: each damage is InvalidIndexFile naming the field and where,
and random truncations and byte flips never raise anything else."""

from __future__ import annotations

import random

import numpy as np
import pytest

from helixo import FlatIndex, HelixoError
from test_flatindex import build_index, traitmark

INVALID = "helixo:python:InvalidIndexFile"
N = 10


@pytest.fixture(scope="module")
def indexes(hxrun, tmp_path_factory):
    """A SAM-like table of N lines and the bytes of two index files of it: keys on, paired
    8-byte offsets and a Flag column; keys off, consecutive 4-byte offsets."""
    lines = [b"r%d\t%d\tchr1\t%d\n" % (i, 16 * (i % 3), 100 + i) for i in range(N)]
    made = {}
    for name, wide in (("paired", True), ("consecutive", False)):
        workdir = tmp_path_factory.mktemp(name)
        source, index, _ = build_index(hxrun, workdir, "table", b"".join(lines), wide,
                                       not wide, wide)
        if wide:
            starts = np.cumsum([0] + [len(line) for line in lines[:-1]])
            traitmark(hxrun, workdir, "sam", "Flag", source, index, starts, wide)
        made[name] = index.read_bytes()
    return source, made


def patch(at: int, raw: bytes):
    return lambda data: data[:at] + raw + data[at + len(raw):]


def number(at: int, value: int, size: int = 8):
    return patch(at, value.to_bytes(size, "little"))


KEYS_END = sum(len(b"r%d\n" % i) for i in range(N)) + 512  # the paired file's table position
TABLE_END = KEYS_END + 16 * N

# Damage, the stage that meets it, a pattern of the message.
DAMAGES = [
    ("truncated header", lambda d: d[:300], "open", r"has 300 bytes, fewer than the 512-byte"),
    ("empty file", lambda d: b"", "open", r"has 0 bytes"),
    ("bad magic", patch(0, b"QZRidy"), "open", r"Magic at byte 0"),
    ("unknown version", patch(7, b" 3.0"), "open", r"Version at byte 7"),
    ("reserved byte set", patch(11, b"\x01"), "open", r"Reserved byte at byte 11"),
    ("unknown layout", patch(32, b"\x02"), "open", r"Layout at byte 32 is 2"),
    ("delimiter without TAB", patch(34, b"x"), "open", r"Entry delimiter at byte 34"),
    ("header padding set", patch(300, b"\x07"), "open", r"Header padding at byte 300"),
    ("keys position", number(16, 600), "open", r"Keys position at byte 16 is 600"),
    ("keys position cleared", number(16, 0), "open",
     rf"Offset table position at byte 24 is {KEYS_END}; without keys the table begins at "
     r"byte 512"),
    ("table position past the end", number(24, 10**6), "open",
     r"Offset table position at byte 24 is 1000000, past the end of the file "
     rf"\({TABLE_END + 2 * N} bytes\)"),
    ("table position in the header", number(24, 100), "open",
     r"Offset table position at byte 24 is 100, inside the 512-byte header"),
    ("entry count too large for the table", number(12, 10**6, 4), "open",
     rf"Offset table at byte {KEYS_END} with 2000000 offsets of 8 bytes \(entry count 1000000 "
     r"at byte 12\) runs past the end"),
    ("entry count below the keys", number(12, N - 1, 4), "open",
     rf"Keys section at byte 512 holds {N} lines .* asks for {N - 1}"),
    ("key line feed lost", patch(514, b"x"), "open",
     rf"Keys section at byte 512 holds {N - 1} lines before"),
    ("keys not ended by a line feed", lambda d: patch(513, b"\n")(patch(KEYS_END - 1, b"x")(d)),
     "open", rf"holds {N + 1} lines, the last without a line feed"),
    ("end before its start", number(KEYS_END + 5 * 8, 0), "open",
     rf"the end of entry 2, at byte {KEYS_END + 40}, is 0, below"),
    ("start before the end before it", number(KEYS_END + 4 * 8, 1), "open",
     r"the start of entry 2, .* is 1, below"),
    ("source shorter than the offsets", lambda d: d, "entry",
     rf"Entry {N - 1} ends at byte \d+ of the source, past the end of .*short.txt"),
    ("no column named", lambda d: d, [], rf"{2 * N} bytes from byte {TABLE_END} .* follow "
                                         r"the offset table"),
    ("bytes left over", lambda d: d + b"xyz", ["Flag"],
     rf"3 bytes from byte {TABLE_END + 2 * N} .* follow the 1 named columns"),
    ("one column more", lambda d: d, ["Flag", "Position"],
     rf"Column 2 \(Position, {N} values of 4 bytes\) at byte {TABLE_END + 2 * N} runs past"),
    ("column cut short", lambda d: d[:-1], ["Flag"], r"Column 1 \(Flag"),
]


@pytest.mark.parametrize("damage, stage, pattern", [d[1:] for d in DAMAGES],
                         ids=[d[0] for d in DAMAGES])
def test_damage_is_invalid_index_file(indexes, tmp_path, damage, stage, pattern):
    source, made = indexes
    index = tmp_path / "damaged.idx"
    index.write_bytes(damage(made["paired"]))
    if stage == "entry":
        source = tmp_path / "short.txt"
        source.write_bytes(indexes[0].read_bytes()[:-1])
    with pytest.raises(HelixoError) as raised:
        with FlatIndex(index, source) as ix:
            assert stage != "open", "opened"
            if stage == "entry":
                ix.entry(N - 2)  # ends inside the source
                ix.entry(N - 1)
            else:
                ix.columns("sam", stage)
    assert raised.value.identifier == INVALID
    assert raised.value.message.startswith(f"{index}: ")
    assert raised.match(pattern)


def exercise(ix: FlatIndex, columns: list) -> None:
    """Every reader of a file that opened: each returns or raises InvalidIndexFile."""
    if ix.keys:
        ix.find(ix.keys[-1])
    assert np.all(np.diff(ix.offsets.reshape(-1).astype(np.int64)) >= 0)
    for i in range(ix.n):
        ix.entry(i)
    ix.columns("sam", columns)


def test_random_damage_raises_only_invalid_index_file(indexes, tmp_path):
    source, made = indexes
    rng = random.Random(2)
    index = tmp_path / "damaged.idx"
    outcomes = {"invalid": 0, "read": 0}
    for name, original in made.items():
        for _ in range(150):
            data = bytearray(original)
            if rng.random() < 0.3:
                del data[rng.randrange(len(data)):]
            else:
                for _ in range(rng.randint(1, 3)):  # half of them past the header
                    data[rng.randrange(rng.choice([0, 512]), len(data))] ^= rng.randrange(1, 256)
            index.write_bytes(bytes(data))
            try:
                with FlatIndex(index, source) as ix:
                    exercise(ix, ["Flag"] if name == "paired" else [])
                outcomes["read"] += 1
            except HelixoError as error:
                assert error.identifier == INVALID, error
                outcomes["invalid"] += 1
    assert min(outcomes.values()) > 0, outcomes  # the sweep reaches both ends
