"""helixo.Alignments against pysam reading the same generated BAM file."""

from __future__ import annotations

import shutil

import numpy as np
import pysam
import pytest

import helixo
from helixo import alignport

import bam_fixtures as bf


@pytest.fixture(scope="module")
def bam(tmp_path_factory):
    folder = tmp_path_factory.mktemp("alignments")
    _, path, _ = bf.make_bam(folder, bf.generated_sam(seed=21, references=4, reads=60))
    return path


@pytest.fixture(scope="module")
def peer(bam):
    """pysam's view: per reference, the fetched records in delivery order."""
    with pysam.AlignmentFile(str(bam)) as reader:
        return {"references": list(reader.references), "lengths": list(reader.lengths),
                "records": [list(reader.fetch(name)) for name in reader.references]}


def pysam_feature(record: pysam.AlignedSegment, name: str):
    """The value of one feature as pysam reads it."""
    mate = record.next_reference_start + 1 if record.next_reference_start >= 0 else 0
    return {
        "Flag": record.flag,
        "Position": record.reference_start + 1,
        "MappingQuality": record.mapping_quality,
        "MatePosition": mate,
        "MateIndex": mate,
        "QueryLength": record.query_length,
        "EndPosition": record.reference_end,
        "Signature": record.cigarstring or "*",
        "Sequence": record.query_sequence,
        "Header": record.query_name,
        "Quality": "".join(chr(q + 33) for q in record.query_qualities),
    }[name]


_DTYPES = {"Flag": np.uint16, "QueryLength": np.uint16, "MappingQuality": np.uint8}


def test_references_and_lengths(bam, peer):
    reads = helixo.Alignments(bam)
    assert reads.references == peer["references"]
    assert reads.lengths.dtype == np.uint32 and reads.lengths.ndim == 1
    assert reads.lengths.tolist() == peer["lengths"]


@pytest.mark.parametrize("ref", [0, 1, 2, 3, "chr2"])
def test_starts_agree_with_pysam(bam, peer, ref):
    number = peer["references"].index(ref) if isinstance(ref, str) else ref
    records = peer["records"][number]
    starts, ends, flags = helixo.Alignments(bam).starts(ref)
    assert (starts.dtype, ends.dtype, flags.dtype) == (np.uint32, np.uint32, np.uint16)
    assert starts.tolist() == [r.reference_start + 1 for r in records]
    assert ends.tolist() == [r.reference_end for r in records]
    assert flags.tolist() == [r.flag for r in records]


def test_starts_are_cached_per_reference(bam, monkeypatch):
    reads = helixo.Alignments(bam)
    first = reads.starts(1)
    by_name = reads.starts("chr2")
    services = []
    real_call = alignport.call

    def counting_call(plugin, service, *inputs, nout=0):
        services.append(service)
        return real_call(plugin, service, *inputs, nout=nout)

    monkeypatch.setattr(alignport, "call", counting_call)
    again = reads.starts(np.int64(1))
    assert all(a is b for a, b in zip(first, again))
    assert all(a is b for a, b in zip(first, by_name))
    reads.features(1, [1, 2], ["Flag"])
    reads.features("chr2", [3], ["Header"])
    assert services == ["getfeaturesinrefbyindex"] * 2
    with pytest.raises(ValueError):
        first[0][0] = 7  # the cache cannot be changed through a returned array


NUMBER_SETS = [[1], [1, 2, 3], [3, 4, 5, 9, 10, 11, 30, 59, 60], list(range(1, 61))]


@pytest.mark.parametrize("numbers", NUMBER_SETS, ids=["one", "first-three", "spread", "all"])
@pytest.mark.parametrize("ref", [0, "chr3"])
def test_features_agree_with_pysam(bam, peer, ref, numbers):
    number = peer["references"].index(ref) if isinstance(ref, str) else ref
    records = [peer["records"][number][k - 1] for k in numbers]
    got = helixo.Alignments(bam).features(ref, np.array(numbers))
    assert list(got) == list(alignport.FEATURES)
    for name, values in got.items():
        expected = [pysam_feature(r, name) for r in records]
        if isinstance(values, list):
            assert values == expected, name
        else:
            assert values.ndim == 1 and values.dtype == _DTYPES.get(name, np.uint32), name
            assert values.tolist() == expected, name


def test_features_by_name_in_the_order_asked(bam, peer):
    reads = helixo.Alignments(bam)
    got = reads.features("chr1", [2, 7], ("Header", "Flag"))
    assert list(got) == ["Header", "Flag"]
    records = [peer["records"][0][1], peer["records"][0][6]]
    assert got["Header"] == [r.query_name for r in records]
    assert got["Flag"].tolist() == [r.flag for r in records]
    assert reads.features(0, 2, "Position")["Position"].tolist() == [records[0].reference_start + 1]


@pytest.mark.parametrize("layout", ["beside", "explicit", "library-lookup"])
def test_index_is_found(bam, peer, tmp_path, layout):
    copy = tmp_path / "copy.bam"
    shutil.copy(bam, copy)
    bai = None
    if layout == "beside":
        shutil.copy(str(bam) + ".bai", str(copy) + ".bai")
    elif layout == "explicit":
        bai = tmp_path / "elsewhere.index"
        shutil.copy(str(bam) + ".bai", bai)
    else:
        shutil.copy(str(bam) + ".bai", tmp_path / "copy.bai")
    reads = helixo.Alignments(copy, bai)
    assert reads.starts(0)[0].tolist() == [r.reference_start + 1 for r in peer["records"][0]]


# (id, call on an Alignments, error, identifier or parameter)
FAILURES = [
    ("ref-out-of-range", lambda a: a.starts(9), helixo.HelixoError,
     "helixo:alignport:getstartsinref:InvalidReference"),
    ("unknown-name", lambda a: a.starts("chrQ"), helixo.HelixoError,
     "helixo:alignport:getstartsinref:InvalidReference"),
    ("number-beyond", lambda a: a.features(0, [61]), helixo.HelixoError,
     "helixo:alignport:getfeaturesinrefbyindex:InvalidIndexing"),
    ("unknown-feature", lambda a: a.features(0, [1], ["flag"]), helixo.HelixoError,
     "helixo:alignport:getfeaturesinrefbyindex:UnknownFeatureType"),
    ("ref-list", lambda a: a.starts([0]), TypeError, "ref"),
    ("numbers-negative", lambda a: a.features(0, [-1]), ValueError, "numbers"),
    ("names-number", lambda a: a.features(0, [1], [3]), TypeError, "names"),
]


@pytest.mark.parametrize("action, error, what", [f[1:] for f in FAILURES],
                         ids=[f[0] for f in FAILURES])
def test_failures(bam, action, error, what):
    reads = helixo.Alignments(bam)
    reads.starts(0)  # the cached starts stay alive by design
    before = helixo.live_arrays()
    with pytest.raises(error) as caught:
        action(reads)
    if error is helixo.HelixoError:
        assert caught.value.identifier == what
    else:
        assert what in str(caught.value)
    assert helixo.live_arrays() == before


def test_missing_bam_is_refused(tmp_path):
    with pytest.raises(helixo.HelixoError) as caught:
        helixo.Alignments(tmp_path / "none.bam")
    assert caught.value.identifier == "helixo:alignport:CannotOpenInFile"
