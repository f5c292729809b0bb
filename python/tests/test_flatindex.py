"""FlatIndex against the index files flatmark writes and the columns traitmark appends.

Each source is generated (seeded) as tagged lines, so that where every entry begins and ends
and what its key is follow from the indexer type's rules, independently of flatmark."""

from __future__ import annotations

import random

import numpy as np
import pysam
import pytest

from conftest import run_hxrun_json
from helixo import FlatIndex, HelixoError


def make_key(rng: random.Random, i: int) -> tuple:
    """A key as text and as source bytes: ASCII, UTF-8, or Latin-1 bytes that are not UTF-8
    (each read as the character of its code)."""
    text = rng.choice([f"k{i}", f"ключ{i}", f"é{i}x"])
    return text, text.encode("latin-1" if text[0] == "é" else "utf-8")


def ascii_key(rng: random.Random, i: int) -> tuple:
    return f"r{i}", b"r%d" % i


# Each generator yields (tag, key, line): "new" begins an entry with that key, "more" extends
# the entry (its end moves past the line), "skip" lies outside it (or inside the consecutive
# span). A None key repeats the key before it.
def gen_table(rng, n, key_of=make_key):
    pool = [key_of(rng, i) for i in range(n // 2 + 1)]  # repeated keys
    for _ in range(n):
        yield "skip", None, rng.choice([b"", b"# a comment\n", b"   \n"])
        key, raw = rng.choice(pool)
        yield "new", key, b"%d\t%s\tv%s" % (rng.randrange(99), raw, rng.choice([b"\n", b"\r\n"]))
    yield "skip", None, b"# trailing comment\n"


def gen_mrtab(rng, n, key_of=make_key):
    pool, key = [key_of(rng, i) for i in range(n // 2 + 2)], None
    yield "skip", None, b"@header one\n@header two\n"
    for _ in range(n):  # neighbouring runs differ, a key may come back later
        key = rng.choice([k for k in pool if k != key])
        for j in range(rng.randint(1, 3)):
            yield "more" if j else "new", key[0], b"%s\tfield %d\n" % (key[1], j)
            yield "skip", None, rng.choice([b"", b"\n"])


def gen_fasta(rng, n, key_of=make_key):
    yield "skip", None, b"text before the first record\n"
    for i in range(n):
        key, raw = (None, b"") if i % 7 == 0 else key_of(rng, i)  # no word: key repeated
        yield "new", key, b">%s description\n" % raw if raw else b">\n"
        for _ in range(rng.randint(0, 3)):
            yield "more", None, bytes(rng.choice(b"ACGT") for _ in range(rng.randint(1, 20))) + b"\n"


def gen_fastq(rng, n, key_of=make_key):
    for i in range(n):
        size = rng.randint(1, 30)
        seq = bytes(rng.choice(b"ACGTN") for _ in range(size))
        qual = b"@" + bytes(rng.randrange(33, 74) for _ in range(size - 1))  # never a header
        key, raw = key_of(rng, i)
        yield "new", key, b"@%s\n%s\n+\n%s\n" % (raw, seq, qual)


def gen_flat(rng, n, key_of=make_key):
    yield "skip", None, b"## a header line\n\n"
    for i in range(n):
        key, raw = key_of(rng, i)
        lines = [b"xx some text\n", b"ID   %s more\n" % raw, b"\n", b"sq acgt\n"]
        for j, line in enumerate(lines[rng.randint(0, 1):]):
            yield "more" if j else "new", key, line
        yield "skip", None, b"//\n"


def assemble(tagged) -> tuple:
    """The text, its entries (key, start, end), and the entries' end (the last offset)."""
    text, entries, key = bytearray(), [], ""
    for tag, line_key, line in tagged:
        if tag == "new":
            key = key if line_key is None else line_key
            entries.append([key, len(text), None])
        text += line
        if tag != "skip":
            entries[-1][2] = len(text)
    return bytes(text), entries, entries[-1][2] if entries else 0


# Generator, the flatmark options it needs, whether the layout is always consecutive (and the
# last offset the end of the text).
TYPES = {
    "table": (gen_table, dict(key_fields=1, comment="#"), False),
    "mrtab": (gen_mrtab, dict(header="@"), False),
    "fasta": (gen_fasta, dict(), True),
    "fastq": (gen_fastq, dict(), True),
    "flat": (gen_flat, dict(key_token="ID", header="##", entry_delimiter="//"), False),
}


def build_index(hxrun, workdir, kind, text, wide, consecutive, keys, key_fields=0,
                key_token="", comment="", header="", entry_delimiter=""):
    source, index = workdir / f"{kind}.txt", workdir / f"{kind}.idx"
    source.write_bytes(text)
    flag = lambda value: value if isinstance(value, str) else f"logical:{str(value).lower()}"
    args = [kind, str(source), str(index), flag(wide), flag(consecutive), flag(keys),
            f"double:{key_fields}", "str:" + key_token, "str:" + comment, "str:" + header,
            "str:\t", "str:" + entry_delimiter]
    doc = run_hxrun_json(hxrun, "flatmark", args, 2, workdir)
    assert doc["ok"], doc
    return source, index, doc["outputs"][0]["data"][0]


@pytest.mark.parametrize("keys", [True, False])
@pytest.mark.parametrize("consecutive", [True, False])
@pytest.mark.parametrize("wide", [True, False])
@pytest.mark.parametrize("kind", list(TYPES))
def test_reads_what_flatmark_wrote(hxrun, tmp_path, kind, wide, consecutive, keys):
    generate, options, forced = TYPES[kind]
    text, entries, last = assemble(generate(random.Random(f"{kind}{wide}{consecutive}"), 23))
    source, index, count = build_index(hxrun, tmp_path, kind, text, wide, consecutive, keys,
                                       **options)
    last = len(text) if forced else last
    starts = [start for _, start, _ in entries]
    with FlatIndex(index, source) as ix:
        assert (ix.n, ix.wide, ix.consecutive) == (count, wide, consecutive or forced)
        assert ix.n == len(entries) and ix.entry_delimiter == options.get("entry_delimiter", "")
        assert ix.offsets.dtype == (np.uint64 if wide else np.uint32)
        if ix.consecutive:
            assert ix.offsets.tolist() == starts + [last]
            bounds = list(zip(starts, starts[1:] + [last]))
        else:
            bounds = [(start, end) for _, start, end in entries]
            assert ix.offsets.tolist() == [list(b) for b in bounds]
        for i, (start, end) in enumerate(bounds):
            assert ix.span(i) == (start, end) and ix.entry(np.int32(i)) == text[start:end]
        expected = [key for key, _, _ in entries]
        assert ix.keys == (expected if keys else None)
        for key in set(expected[::3]) | {"absent"} if keys else ():
            assert ix.find(key).tolist() == [i for i, k in enumerate(expected) if k == key]


@pytest.mark.parametrize("kind, text, last, delimiter, width, wide", [
    ("table", b"# only a comment\n", 0, "ß—", "double:-1", True),  # recorded for every type
    ("fasta", b"no record here\n", 15, "", "uint8:7", True),
    ("flat", b"", 0, "//", "double:256", False),  # the low eight bits are zero
])
@pytest.mark.parametrize("consecutive", [True, False])
def test_reads_an_index_without_entries(hxrun, tmp_path, kind, text, last, delimiter, width,
                                        wide, consecutive):
    _, index, count = build_index(hxrun, tmp_path, kind, text, width, consecutive, True,
                                  comment="#", entry_delimiter=delimiter)
    with FlatIndex(index) as ix:
        assert (ix.n, count, ix.wide, ix.entry_delimiter) == (0, 0, wide, delimiter)
        assert ix.keys == [] and ix.find("x").size == 0
        assert ix.offsets.tolist() == ([last] if ix.consecutive else [])
        with pytest.raises(IndexError):
            ix.span(0)


def gen_sam(rng: random.Random, n: int) -> tuple:
    """SAM text of n alignments and where each alignment line begins."""
    lines = [b"@HD\tVN:1.6\n@SQ\tSN:chr1\tLN:100000\n@SQ\tSN:chr2\tLN:100000\n"]
    for i in range(n):
        flag, rname, cigar, size = rng.choice([0, 16, 99, 147, 4, 2048]), b"*", b"*", 12
        if not flag & 4:
            ops = [(rng.randint(1, 5), "H")] * rng.randint(0, 1) + \
                  [(rng.randint(1, 9), "S")] * rng.randint(0, 1) + [(rng.randint(1, 40), "M")]
            for _ in range(rng.randint(0, 3)):
                ops += [(rng.randint(1, 9), rng.choice("IDN")), (rng.randint(1, 40), "M")]
            cigar = "".join(f"{length}{op}" for length, op in ops).encode()
            size, rname = sum(k for k, op in ops if op in "MIS"), rng.choice([b"chr1", b"chr2"])
        lines.append(b"q%d\t%d\t%s\t%d\t%d\t%s\t=\t%d\t0\t%s\t*\n" % (
            i // 2, flag, rname, 0 if flag & 4 else rng.randint(1, 90000), rng.randrange(256),
            cigar, rng.randint(0, 90000), b"A" * size))
    return b"".join(lines), np.cumsum([len(line) for line in lines])[:-1]


def pysam_columns(path) -> dict:
    with pysam.AlignmentFile(str(path), "r") as sam:
        reads = list(sam)
    numbers = {"*": 0}  # by first appearance
    for read in reads:
        numbers.setdefault(read.reference_name or "*", len(numbers))
    return {"Flag": [r.flag for r in reads],
            "Position": [r.reference_start + 1 for r in reads],
            "MappingQuality": [r.mapping_quality for r in reads],
            "MatePosition": [r.next_reference_start + 1 for r in reads],
            "QueryLength": [r.infer_query_length() or 0 for r in reads],
            "EndPosition": [r.reference_end or r.reference_start + 1 for r in reads],
            "Reference": [numbers[r.reference_name or "*"] for r in reads]}


def traitmark(hxrun, workdir, kind, feature, source, index, offsets, wide):
    dtype = np.uint64 if wide else np.uint32
    np.save(workdir / "offsets.npy", np.asarray(offsets, dtype))
    count = len(offsets) - (kind == "fasta")  # FASTA's Length reads N + 1 offsets
    doc = run_hxrun_json(hxrun, "traitmark", [
        kind, feature, "uint32", str(source), str(index), "unused", f"uint32:{count}",
        f"logical:{str(wide).lower()}", f"{dtype.__name__}@{workdir / 'offsets.npy'}"], 0, workdir)
    assert doc["ok"], doc


SAM_FEATURES = ["MappingQuality", "Flag", "Position", "Reference", "QueryLength",
                "EndPosition", "MatePosition"]


@pytest.mark.parametrize("wide", [True, False])
def test_sam_columns_agree_with_pysam(hxrun, tmp_path, wide):
    text, starts = gen_sam(random.Random(7 + wide), 41)  # odd: columns begin unaligned
    source, index, _ = build_index(hxrun, tmp_path, "table", text, wide, wide, True, comment="@")
    peer = pysam_columns(source)
    for appended, feature in enumerate(SAM_FEATURES, start=1):
        traitmark(hxrun, tmp_path, "sam", feature, source, index, starts, wide)
        with FlatIndex(index, source) as ix:
            columns = ix.columns("sam", SAM_FEATURES[:appended])
            assert list(columns) == SAM_FEATURES[:appended]
            for name, values in columns.items():
                assert not values.flags.writeable and values.tolist() == peer[name], name


@pytest.mark.parametrize("kind", ["fasta", "fastq"])
@pytest.mark.parametrize("wide", [True, False])
def test_length_columns_agree_with_pysam(hxrun, tmp_path, kind, wide):
    text, entries, _ = assemble(TYPES[kind][0](random.Random(kind), 30, ascii_key))
    source, index, _ = build_index(hxrun, tmp_path, kind, text, wide, True, False)
    offsets = [start for _, start, _ in entries] + [len(text)] * (kind == "fasta")
    traitmark(hxrun, tmp_path, kind, "Length", source, index, offsets, wide)
    with FlatIndex(index) as ix, pysam.FastxFile(str(source)) as reads:
        lengths = ix.columns(kind, "Length")["Length"]
        assert lengths.dtype == (np.uint32 if kind == "fasta" else np.uint16)
        assert lengths.tolist() == [len(read.sequence) for read in reads]
    traitmark(hxrun, tmp_path, kind, "Length", source, index, offsets, wide)
    with FlatIndex(index) as ix, pytest.raises(HelixoError, match=r"follow the 1 named col"):
        ix.columns(kind, ["Length"])  # a second column follows


@pytest.fixture
def small(hxrun, tmp_path):
    text, _, _ = assemble(gen_table(random.Random(3), 5))
    return build_index(hxrun, tmp_path, "table", text, False, True, False, comment="#")[1]


@pytest.mark.parametrize("call, error", [
    (lambda ix: ix.span(-1), IndexError),
    (lambda ix: ix.entry(np.uint64(ix.n)), IndexError),
    (lambda ix: ix.span(1.0), TypeError),
    (lambda ix: ix.span(np.float64(1)), TypeError),
    (lambda ix: ix.entry(0), ValueError),  # opened without a source
    (lambda ix: ix.find("k1"), ValueError),  # indexed with keys off
    (lambda ix: ix.find(b"k1"), TypeError),
    (lambda ix: ix.columns("bam", []), ValueError),
    (lambda ix: ix.columns("sam", ["Length"]), ValueError),
    (lambda ix: ix.columns("sam", ["Flag", "Flag"]), ValueError),
    (lambda ix: ix.columns("sam", [1]), TypeError),
    (lambda ix: ix.offsets.__setitem__(0, 1), ValueError),  # read-only
    (lambda ix: FlatIndex(b"x.idx"), TypeError),
    (lambda ix: FlatIndex(ix.path, 3), TypeError),
])
def test_rejects_wrong_arguments(small, call, error):
    with FlatIndex(small) as ix, pytest.raises(error):
        call(ix)


def test_arrays_outlive_close(small):
    ix = FlatIndex(small)
    offsets, expected = ix.offsets, ix.offsets.tolist()
    ix.close()
    assert ix.closed and offsets.tolist() == expected
    for call in (lambda: ix.span(0), lambda: ix.offsets, lambda: ix.columns("sam", [])):
        with pytest.raises(ValueError, match="closed"):
            call()
