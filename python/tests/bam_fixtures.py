"""Test data and peers shared by the service suites.

A seeded generator of SAM text (a few references, unplaced reads, varied CIGARs, reads that
share a start), made into BAM and BAI with samtools; and the two halves of a comparison with
hxrun: the same inputs written as hxrun literals, and hxrun's JSON outputs read back with
helixo's conversion rules.
"""

from __future__ import annotations

import pathlib
import random
import subprocess
from typing import Any, List, Optional, Sequence, Tuple

import numpy as np

SAMTOOLS = "samtools"

# Query-consuming and reference-consuming CIGAR shapes, each a list of (length, op); the
# read's sequence length follows from them.
_CIGARS: Tuple[Tuple[Tuple[int, str], ...], ...] = (
    ((40, "M"),),
    ((5, "S"), (35, "M")),
    ((3, "H"), (20, "M"), (4, "I"), (16, "M")),
    ((18, "M"), (6, "D"), (22, "M")),
    ((12, "M"), (150, "N"), (28, "M"), (2, "S")),
    ((20, "="), (1, "X"), (19, "=")),
    ((10, "M"), (2, "P"), (1, "I"), (29, "M"), (7, "H")),
)
_FLAGS = (0, 16, 99, 147, 83, 163, 0 | 1024, 16 | 256)


def query_length(cigar: Sequence[Tuple[int, str]]) -> int:
    """The sequence length a CIGAR implies (M, I, S, = and X consume the query)."""
    return sum(n for n, op in cigar if op in "MIS=X")


def generated_sam(seed: int, references: int = 3, reads: int = 40, unplaced: int = 5) -> str:
    """Coordinate-sorted SAM text: references chr1.. (the last one without reads), ``reads``
    alignments on each of the others (some sharing a start), then ``unplaced`` unplaced reads."""
    rng = random.Random(seed)
    lengths = [5000 + 700 * r for r in range(references)]
    lines = ["@HD\tVN:1.6\tSO:coordinate"]
    lines += [f"@SQ\tSN:chr{r + 1}\tLN:{n}" for r, n in enumerate(lengths)]
    lines.append("@PG\tID:gen\tPN:gen")

    def read(name: str, flag: int, ref: str, pos: int, cigar_ops, mate: str, mpos: int,
             n: int = 0) -> str:
        n = query_length(cigar_ops) if cigar_ops else n
        seq = "".join(rng.choice("ACGTN" if rng.random() < 0.1 else "ACGT") for _ in range(n))
        qual = "".join(chr(33 + rng.randrange(41)) for _ in range(n))
        cigar = "".join(f"{k}{op}" for k, op in cigar_ops) if cigar_ops else "*"
        mapq = rng.randrange(61) if ref != "*" else 0
        return (f"{name}\t{flag}\t{ref}\t{pos}\t{mapq}\t{cigar}\t{mate}\t{mpos}\t0\t{seq}\t{qual}"
                f"\tNM:i:{rng.randrange(5)}\tXS:Z:s{rng.randrange(100)}")

    for r in range(references - 1):
        starts = sorted(rng.randrange(1, lengths[r] - 400) for _ in range(reads))
        for k in range(2, reads, 7):  # runs of equal starts
            starts[k] = starts[k - 1]
        for k, pos in enumerate(starts):
            flag = rng.choice(_FLAGS)
            mate, mpos = ("=", pos + rng.randrange(0, 300)) if flag & 1 else ("*", 0)
            lines.append(read(f"r{r}_{k}", flag, f"chr{r + 1}", pos, rng.choice(_CIGARS),
                              mate, mpos))
    for k in range(unplaced):
        lines.append(read(f"u{k}", 4, "*", 0, (), "*", 0, n=30 + k))
    return "\n".join(lines) + "\n"


def make_bam(folder: pathlib.Path, sam_text: str, name: str = "gen",
             index: bool = True) -> Tuple[pathlib.Path, ...]:
    """Writes NAME.sam, converts it to NAME.bam with samtools and, with index, indexes it
    (NAME.bam.bai). Returns (sam, bam, bai)."""
    folder = pathlib.Path(folder)
    sam = folder / f"{name}.sam"
    bam = folder / f"{name}.bam"
    sam.write_text(sam_text, encoding="ascii")
    subprocess.run([SAMTOOLS, "view", "-b", "-o", str(bam), str(sam)], check=True,
                   capture_output=True)
    if index:
        subprocess.run([SAMTOOLS, "index", str(bam)], check=True, capture_output=True)
    return sam, bam, pathlib.Path(str(bam) + ".bai")


# --- hxrun as a peer --------------------------------------------------------------------------

_CLASS_OF_DTYPE = {
    np.dtype(np.bool_): "logical", np.dtype(np.float64): "double",
    np.dtype(np.float32): "single", np.dtype(np.int8): "int8", np.dtype(np.uint8): "uint8",
    np.dtype(np.int16): "int16", np.dtype(np.uint16): "uint16", np.dtype(np.int32): "int32",
    np.dtype(np.uint32): "uint32", np.dtype(np.int64): "int64", np.dtype(np.uint64): "uint64",
}
_DTYPE_OF_CLASS = {v: k for k, v in _CLASS_OF_DTYPE.items()}


class HxrunArgs:
    """Writes Python inputs as hxrun literals; arrays go through .npy files of a folder."""

    def __init__(self, folder: pathlib.Path) -> None:
        self.folder = pathlib.Path(folder)
        self.files = 0

    def literal(self, value: Any) -> str:
        """The hxrun argument that builds the host array helixo builds from value."""
        if isinstance(value, str):
            return "str:" + value
        if isinstance(value, (bool, np.bool_)):
            return "logical:" + ("true" if value else "false")
        if isinstance(value, (int, float)):
            return f"double:{float(value)!r}"
        if value is None:
            return "double:[]"
        if isinstance(value, np.generic):
            return f"{_CLASS_OF_DTYPE[value.dtype]}:{value}"
        if isinstance(value, np.ndarray):
            assert value.ndim == 1, "only 1-d arrays are written as hxrun columns"
            self.files += 1
            path = self.folder / f"in{self.files}.npy"
            np.save(path, np.ascontiguousarray(value))
            return f"{_CLASS_OF_DTYPE[value.dtype]}@{path}"
        if isinstance(value, (list, tuple)):
            return "cell:{" + ",".join(self.literal(v) for v in value) + "}"
        raise TypeError(f"no hxrun literal for {type(value).__name__}")

    def __call__(self, values: Sequence[Any]) -> List[str]:
        return [self.literal(v) for v in values]


def _number(value: Any) -> Any:
    return {"NaN": np.nan, "Inf": np.inf, "-Inf": -np.inf}.get(value, value) \
        if isinstance(value, str) else value


def from_hxrun(output: Optional[dict]) -> Any:
    """An output of hxrun's JSON document converted as helixo converts the host array."""
    if output is None:
        return None
    cls, dims = output["class"], output["dims"]
    if cls == "char":
        return output["text"]
    if cls == "cell":
        return [from_hxrun(e) for e in output["data"]]
    dtype = _DTYPE_OF_CLASS[cls]
    data = np.array([_number(v) for v in output["data"]], dtype=dtype)
    if all(d == 1 for d in dims):
        return data[0]
    if data.size == 0 or sum(d != 1 for d in dims) == 1:
        return data
    return data.reshape(dims, order="F")


def assert_same_value(mine: Any, peer: Any, where: str = "") -> None:
    """Same Python type, dtype, shape and values (NaN equal to NaN)."""
    if isinstance(peer, list):
        assert isinstance(mine, list), f"{where}: {type(mine).__name__} is not a list"
        assert len(mine) == len(peer), where
        for k, (a, b) in enumerate(zip(mine, peer)):
            assert_same_value(a, b, f"{where}[{k}]")
    elif isinstance(peer, (np.ndarray, np.generic)):
        assert isinstance(mine, np.ndarray) == isinstance(peer, np.ndarray) and \
            isinstance(mine, (np.ndarray, np.generic)), \
            f"{where}: {type(mine).__name__} against {type(peer).__name__}"
        assert mine.dtype == peer.dtype, f"{where}: {mine.dtype} against {peer.dtype}"
        assert np.shape(mine) == np.shape(peer), \
            f"{where}: {np.shape(mine)} against {np.shape(peer)}"
        assert np.array_equal(mine, peer, equal_nan=mine.dtype.kind == "f"), where
    else:
        assert mine == peer, f"{where}: {mine!r} against {peer!r}"


def peer_outputs(doc: dict, vectors: Sequence[bool]) -> List[Any]:
    """hxrun's outputs, with the outputs that a wrapper returns as arrays made 1-d."""
    values = []
    for k, output in enumerate(doc["outputs"]):
        value = from_hxrun(output)
        if k < len(vectors) and vectors[k] and isinstance(value, np.generic):
            value = np.atleast_1d(value)
        values.append(value)
    return values
