"""helixo.alignport: every service through its wrapper against hxrun making the same host call
(outputs, console text and files written), a few plug-in errors, and the wrappers' own checks."""

from __future__ import annotations

import collections
import pathlib

import numpy as np
import pysam
import pytest

import helixo
from helixo import alignport as ap

import bam_fixtures as bf
from conftest import run_hxrun_json

U32 = np.uint32


class BytesPath:
    """An os.PathLike whose path is bytes."""

    def __fspath__(self) -> bytes:
        return b"x.bai"


@pytest.fixture(scope="module")
def files(tmp_path_factory) -> dict:
    """A generated BAM with its index, the SAM it came from, an unsorted BAM, and the starts
    less one of each reference as pysam reads them."""
    folder = tmp_path_factory.mktemp("alignport")
    sam, bam, bai = bf.make_bam(folder, bf.generated_sam(seed=7))
    lines = bf.generated_sam(seed=8).splitlines()
    header = [line for line in lines if line.startswith("@")]
    body = [line for line in lines if not line.startswith("@")][::-1]
    _, unsorted, _ = bf.make_bam(folder, "\n".join(header + body) + "\n", "unsorted",
                                 index=False)
    solo_sam, solo, _ = bf.make_bam(folder, SOLO, "solo")
    with pysam.AlignmentFile(str(bam)) as reader:
        begins = [np.array([r.reference_start for r in reader.fetch(name)], dtype=U32)
                  for name in reader.references]
    return {"folder": folder, "sam": sam, "bam": bam, "bai": bai, "unsorted": unsorted,
            "begins": begins, "solo": solo, "solo_sam": solo_sam}


# One reference holding one alignment: every array output has one element.
SOLO = ("@SQ\tSN:solo\tLN:900\n"
        "q1\t0\tsolo\t12\t30\t4M\t*\t0\t0\tACGT\tIIII\n")


def compare(hxrun, tmp_path, capsys, mine, host_inputs, nout, vectors, written=None):
    """Runs the wrapper, then hxrun on the same host call, and compares outputs, console
    text and the bytes of a file each of them wrote (``written``: name inside its folder)."""
    (tmp_path / "mine").mkdir()
    (tmp_path / "peer").mkdir()
    result = mine(tmp_path / "mine")
    printed = capsys.readouterr().out
    inputs = host_inputs(tmp_path / "peer")
    doc = run_hxrun_json(hxrun, "alignport", bf.HxrunArgs(tmp_path)(inputs), nout, tmp_path)
    assert doc["ok"], doc.get("error")
    peer = bf.peer_outputs(doc, vectors)
    if nout == 0:
        assert result is None
    elif nout == 1 and inputs[0] != "getfeaturesinrefbyindex":
        bf.assert_same_value(result, peer[0], "output 1")
    else:
        assert isinstance(result, tuple) and len(result) == nout
        for k, (a, b) in enumerate(zip(result, peer)):
            bf.assert_same_value(a, b, f"output {k + 1}")
    assert printed == doc["stdout"].decode("utf-8")
    if written is not None:
        assert (tmp_path / "mine" / written).read_bytes() == \
            (tmp_path / "peer" / written).read_bytes()


def _features_case(feature, numbers, forms):
    """getfeatureinrefbyindex of reference 0, with numbers given in a Python form."""
    return (f"feature-{feature}-{forms}",
            lambda F, out: ap.getfeatureinrefbyindex(F["bam"], F["bai"], feature, 0,
                                                     _form(numbers, forms), F["begins"][0]),
            lambda F, out: ["getfeatureinrefbyindex", str(F["bam"]), str(F["bai"]), feature, 0.0,
                            np.array(numbers, dtype=U32), F["begins"][0]],
            1, (feature not in ("Signature", "Sequence", "Header", "Quality"),), None)


def _form(numbers, form):
    return {"list": list(numbers), "u32": np.array(numbers, dtype=U32),
            "i64": np.array(numbers, dtype=np.int64), "f64": np.array(numbers, dtype=float),
            "int": numbers[0]}[form]


ALL = list(ap.FEATURES)

# (id, wrapper call, the host call hxrun makes, nout, which outputs are arrays, file written)
CASES = [
    ("getheader", lambda F, o: ap.getheader(F["bam"]),
     lambda F, o: ["getheader", str(F["bam"])], 3, (False, False, True), None),
    ("getheader-nout1", lambda F, o: ap.getheader(F["bam"], nout=1),
     lambda F, o: ["getheader", str(F["bam"])], 1, (False,), None),
    ("getnumberofreferences", lambda F, o: ap.getnumberofreferences(F["bam"]),
     lambda F, o: ["getnumberofreferences", str(F["bam"])], 1, (False,), None),
    ("getreferencestring", lambda F, o: ap.getreferencestring(F["bam"], 1),
     lambda F, o: ["getreferencestring", str(F["bam"]), 1.0], 1, (False,), None),
    ("validatereferencestring", lambda F, o: ap.validatereferencestring(F["bam"], "chr2:5-90"),
     lambda F, o: ["validatereferencestring", str(F["bam"]), "chr2:5-90"], 1, (False,), None),
    ("validatereferencestring-none", lambda F, o: ap.validatereferencestring(F["bam"], "chrX"),
     lambda F, o: ["validatereferencestring", str(F["bam"]), "chrX"], 1, (False,), None),
    ("getstartsinref", lambda F, o: ap.getstartsinref(F["bam"], F["bai"], 0),
     lambda F, o: ["getstartsinref", str(F["bam"]), str(F["bai"]), 0.0], 3, (True,) * 3, None),
    ("getstartsinref-by-name", lambda F, o: ap.getstartsinref(F["bam"], F["bai"], "chr2", nout=2),
     lambda F, o: ["getstartsinref", str(F["bam"]), str(F["bai"]), 1.0], 2, (True,) * 2, None),
    ("getstartsinref-empty-reference", lambda F, o: ap.getstartsinref(F["bam"], F["bai"], 2),
     lambda F, o: ["getstartsinref", str(F["bam"]), str(F["bai"]), 2.0], 3, (True,) * 3, None),
    *[_features_case(name, [1, 3, 4, 9, 17], "u32") for name in ALL],
    _features_case("Position", [2], "int"),
    _features_case("Flag", [3], "list"),
    _features_case("Header", [1, 2, 3, 30], "i64"),
    _features_case("EndPosition", [5, 6, 40], "f64"),
    ("features-all", lambda F, o: ap.getfeaturesinrefbyindex(
        F["bam"], F["bai"], ALL, 1, [2, 3, 8, 21, 22], F["begins"][1]),
     lambda F, o: ["getfeaturesinrefbyindex", str(F["bam"]), str(F["bai"]), ALL, 1.0,
                   np.array([2, 3, 8, 21, 22], dtype=U32), F["begins"][1]],
     len(ALL), tuple(n not in ("Signature", "Sequence", "Header", "Quality") for n in ALL), None),
    ("features-one", lambda F, o: ap.getfeaturesinrefbyindex(
        F["bam"], F["bai"], ("MatePosition",), "chr1", [4], F["begins"][0].astype(np.int32)),
     lambda F, o: ["getfeaturesinrefbyindex", str(F["bam"]), str(F["bai"]), ["MatePosition"],
                   0.0, np.array([4], dtype=U32), F["begins"][0].astype(np.int32)],
     1, (True,), None),
    ("writesambyregion", lambda F, o: ap.writesambyregion(F["bam"], F["bai"], o / "r.sam",
                                                          "chr1:300-2000"),
     lambda F, o: ["writesambyregion", str(F["bam"]), str(F["bai"]), str(o / "r.sam"),
                   "chr1:300-2000", True, False], 0, (), "r.sam"),
    ("writesambyregion-contained", lambda F, o: ap.writesambyregion(
        F["bam"], F["bai"], o / "r.sam", "chr2", optional_fields=False, contained=True),
     lambda F, o: ["writesambyregion", str(F["bam"]), str(F["bai"]), str(o / "r.sam"),
                   "chr2", False, True], 0, (), "r.sam"),
    ("writesamunaligned", lambda F, o: ap.writesamunaligned(F["bam"], o / "u.sam"),
     lambda F, o: ["writesamunaligned", str(F["bam"]), str(o / "u.sam"), True], 0, (), "u.sam"),
    ("writesamunaligned-mandatory", lambda F, o: ap.writesamunaligned(F["bam"], o / "u.sam",
                                                                      np.False_),
     lambda F, o: ["writesamunaligned", str(F["bam"]), str(o / "u.sam"), False], 0, (), "u.sam"),
    ("bam2bam-sam", lambda F, o: ap.bam2bam(F["bam"], "bam", o / "c.sam", "sam"),
     lambda F, o: ["bam2bam", str(F["bam"]), "bam", str(o / "c.sam"), "sam",
                   np.empty(0, dtype=U32)], 0, (), "c.sam"),
    ("bam2bam-fastq-select", lambda F, o: ap.bam2bam(F["bam"], "bam", o / "c.fq", "fastq",
                                                     select=[1, 5, 9, 80]),
     lambda F, o: ["bam2bam", str(F["bam"]), "bam", str(o / "c.fq"), "fastq",
                   np.array([1, 5, 9, 80], dtype=U32)], 0, (), "c.fq"),
    ("bam2bam-fasta", lambda F, o: ap.bam2bam(F["sam"], "sam", o / "c.fa", "fasta",
                                              np.arange(2, 30, 3)),
     lambda F, o: ["bam2bam", str(F["sam"]), "sam", str(o / "c.fa"), "fasta",
                   np.arange(2, 30, 3).astype(U32)], 0, (), "c.fa"),
    ("bam2bam-bam", lambda F, o: ap.bam2bam(F["sam"], "sam", o / "c.bam", "bam"),
     lambda F, o: ["bam2bam", str(F["sam"]), "sam", str(o / "c.bam"), "bam",
                   np.empty(0, dtype=U32)], 0, (), "c.bam"),
    ("sam2bam", lambda F, o: ap.sam2bam(F["sam"], o / "s.bam"),
     lambda F, o: ["sam2bam", str(F["sam"]), str(o / "s.bam")], 0, (), "s.bam"),
    ("indexbamfile", lambda F, o: ap.indexbamfile(F["bam"], o / "i.bai"),
     lambda F, o: ["indexbamfile", str(F["bam"]), str(o / "i.bai")], 0, (), "i.bai"),
    ("bamsort", lambda F, o: ap.bamsort(F["unsorted"], o / "sorted"),
     lambda F, o: ["bamsort", str(F["unsorted"]), str(o / "sorted")], 0, (), "sorted.bam"),
    ("getheader-one-reference", lambda F, o: ap.getheader(F["solo"]),
     lambda F, o: ["getheader", str(F["solo"])], 3, (False, False, True), None),
    ("getstartsinref-one-alignment", lambda F, o: ap.getstartsinref(F["solo"],
                                                                    str(F["solo"]) + ".bai", 0),
     lambda F, o: ["getstartsinref", str(F["solo"]), str(F["solo"]) + ".bai", 0.0], 3,
     (True,) * 3, None),
    ("saminfo-one-reference", lambda F, o: ap.saminfo(F["solo_sam"]),
     lambda F, o: ["saminfo", str(F["solo_sam"])], 3, (False, True, False), None),
    ("baminfo", lambda F, o: ap.baminfo(F["bam"]),
     lambda F, o: ["baminfo", str(F["bam"])], 2, (False, True), None),
    ("baminfo-unsorted", lambda F, o: ap.baminfo(F["unsorted"], nout=1),
     lambda F, o: ["baminfo", str(F["unsorted"])], 1, (False,), None),
    ("saminfo", lambda F, o: ap.saminfo(F["sam"]),
     lambda F, o: ["saminfo", str(F["sam"])], 3, (False, True, False), None),
    ("dumpinfobyregion", lambda F, o: ap.dumpinfobyregion(F["bam"], F["bai"], "chr1:100-1500"),
     lambda F, o: ["dumpinfobyregion", str(F["bam"]), str(F["bai"]), "chr1:100-1500"],
     0, (), None),
    ("dumpinfobyindex", lambda F, o: ap.dumpinfobyindex(F["bam"], F["bai"], 3, 9),
     lambda F, o: ["dumpinfobyindex", str(F["bam"]), str(F["bai"]), 3.0, 9.0], 0, (), None),
    ("dumpinfoinrefbyindex", lambda F, o: ap.dumpinfoinrefbyindex(F["bam"], F["bai"], "chr2",
                                                                  2, 10),
     lambda F, o: ["dumpinfoinrefbyindex", str(F["bam"]), str(F["bai"]), 1.0, 2.0, 10.0],
     0, (), None),
    ("dumpstartsinfo", lambda F, o: ap.dumpstartsinfo(F["bam"]),
     lambda F, o: ["dumpstartsinfo", str(F["bam"])], 0, (), None),
]


@pytest.mark.parametrize("mine, host, nout, vectors, written",
                         [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_service_matches_hxrun(hxrun, files, tmp_path, capsys, mine, host, nout, vectors,
                               written):
    compare(hxrun, tmp_path, capsys, lambda o: mine(files, o), lambda o: host(files, o), nout,
            vectors, written)


def test_every_service_has_a_case():
    fake = collections.defaultdict(lambda: "f", begins=[np.zeros(1, U32)] * 3)
    services = {c[2](fake, pathlib.Path("o"))[0] for c in CASES}
    assert services == {name for name in ap.__all__ if name != "FEATURES"}
    assert len(services) == 19


# (id, wrapper call, host call, nout): calls the plug-in refuses, with hxrun's error as peer.
ERRORS = [
    ("no-reference", lambda F: ap.getreferencestring(F["bam"], 3),
     lambda F: ["getreferencestring", str(F["bam"]), 3.0], 1),
    ("unknown-name-is-invalid", lambda F: ap.getstartsinref(F["bam"], F["bai"], "chrZ"),
     lambda F: ["getstartsinref", str(F["bam"]), str(F["bai"]), -1.0], 3),
    ("missing-bam", lambda F: ap.getheader(F["folder"] / "none.bam"),
     lambda F: ["getheader", str(F["folder"] / "none.bam")], 3),
    ("missing-bai", lambda F: ap.getstartsinref(F["bam"], F["folder"] / "none.bai", 0),
     lambda F: ["getstartsinref", str(F["bam"]), str(F["folder"] / "none.bai"), 0.0], 3),
    ("unknown-feature", lambda F: ap.getfeatureinrefbyindex(F["bam"], F["bai"], "flag", 0, [1],
                                                            F["begins"][0]),
     lambda F: ["getfeatureinrefbyindex", str(F["bam"]), str(F["bai"]), "flag", 0.0,
                np.array([1], U32), F["begins"][0]], 1),
    ("number-beyond-starts", lambda F: ap.getfeatureinrefbyindex(
        F["bam"], F["bai"], "Flag", 0, [41], F["begins"][0]),
     lambda F: ["getfeatureinrefbyindex", str(F["bam"]), str(F["bai"]), "Flag", 0.0,
                np.array([41], U32), F["begins"][0]], 1),
    ("empty-numbers", lambda F: ap.getfeatureinrefbyindex(F["bam"], F["bai"], "Flag", 0, [],
                                                          F["begins"][0]),
     lambda F: ["getfeatureinrefbyindex", str(F["bam"]), str(F["bai"]), "Flag", 0.0,
                np.empty(0, U32), F["begins"][0]], 1),
    ("duplicated-feature", lambda F: ap.getfeaturesinrefbyindex(
        F["bam"], F["bai"], ["Flag", "Flag"], 0, [1], F["begins"][0]),
     lambda F: ["getfeaturesinrefbyindex", str(F["bam"]), str(F["bai"]), ["Flag", "Flag"], 0.0,
                np.array([1], U32), F["begins"][0]], 2),
    ("features-nout", lambda F: ap.getfeaturesinrefbyindex(
        F["bam"], F["bai"], ["Flag", "Header"], 0, [1], F["begins"][0], nout=1),
     lambda F: ["getfeaturesinrefbyindex", str(F["bam"]), str(F["bai"]), ["Flag", "Header"],
                0.0, np.array([1], U32), F["begins"][0]], 1),
    ("bad-format", lambda F: ap.bam2bam(F["bam"], "bam", F["folder"] / "x.cram", "cram"),
     lambda F: ["bam2bam", str(F["bam"]), "bam", str(F["folder"] / "x.cram"), "cram",
                np.empty(0, U32)], 0),
    ("select-not-increasing", lambda F: ap.bam2bam(F["bam"], "bam", F["folder"] / "x.sam",
                                                   "sam", [4, 2]),
     lambda F: ["bam2bam", str(F["bam"]), "bam", str(F["folder"] / "y.sam"), "sam",
                np.array([4, 2], U32)], 0),
    ("index-unsorted", lambda F: ap.indexbamfile(F["unsorted"], F["folder"] / "u.bai"),
     lambda F: ["indexbamfile", str(F["unsorted"]), str(F["folder"] / "u.bai")], 0),
    ("bad-region", lambda F: ap.writesambyregion(F["bam"], F["bai"], F["folder"] / "w.sam",
                                                 "chrQ:1-9"),
     lambda F: ["writesambyregion", str(F["bam"]), str(F["bai"]), str(F["folder"] / "w.sam"),
                "chrQ:1-9", True, False], 0),
    ("dump-range", lambda F: ap.dumpinfobyindex(F["bam"], F["bai"], 5, 3),
     lambda F: ["dumpinfobyindex", str(F["bam"]), str(F["bai"]), 5.0, 3.0], 0),
    ("dump-across-references", lambda F: ap.dumpinfobyindex(F["bam"], F["bai"], 38, 42),
     lambda F: ["dumpinfobyindex", str(F["bam"]), str(F["bai"]), 38.0, 42.0], 0),
    ("saminfo-of-missing", lambda F: ap.saminfo(F["folder"] / "none.sam"),
     lambda F: ["saminfo", str(F["folder"] / "none.sam")], 3),
]


@pytest.mark.parametrize("mine, host, nout", [c[1:] for c in ERRORS], ids=[c[0] for c in ERRORS])
def test_plugin_errors_reach_the_user(hxrun, files, tmp_path, capsys, mine, host, nout):
    before = helixo.live_arrays()
    with pytest.raises(helixo.HelixoError) as caught:
        mine(files)
    assert helixo.live_arrays() == before
    doc = run_hxrun_json(hxrun, "alignport", bf.HxrunArgs(tmp_path)(host(files)), nout, tmp_path)
    assert not doc["ok"]
    assert type(caught.value) is helixo.HelixoError
    assert (caught.value.identifier, caught.value.message) == \
        (doc["error"]["identifier"], doc["error"]["message"])
    assert capsys.readouterr().out == doc["stdout"].decode("utf-8")


# (id, wrapper call, parameter named, exception): refused before any plug-in runs.
BAD = [
    ("ref-list", lambda F: ap.getstartsinref(F["bam"], F["bai"], [0]), "ref", TypeError),
    ("ref-float", lambda F: ap.getreferencestring(F["bam"], 1.0), "ref", TypeError),
    ("ref-bool", lambda F: ap.getreferencestring(F["bam"], True), "ref", TypeError),
    ("ref-name-for-number", lambda F: ap.getreferencestring(F["bam"], "chr1"), "ref", TypeError),
    ("ref-huge", lambda F: ap.getreferencestring(F["bam"], 2 ** 70 + 1), "ref", ValueError),
    ("bam-bytes", lambda F: ap.getheader(bytes(F["bam"])), "bam", TypeError),
    ("bai-bytes-path", lambda F: ap.getstartsinref(F["bam"], BytesPath(), 0),
     "bai", TypeError),
    ("region-number", lambda F: ap.validatereferencestring(F["bam"], 1), "region", TypeError),
    ("feature-list", lambda F: ap.getfeatureinrefbyindex(F["bam"], F["bai"], ["Flag"], 0, [1],
                                                         F["begins"][0]), "feature", TypeError),
    ("numbers-negative", lambda F: ap.getfeatureinrefbyindex(F["bam"], F["bai"], "Flag", 0,
                                                             [2, -1], F["begins"][0]),
     "numbers", ValueError),
    ("numbers-fraction", lambda F: ap.getfeatureinrefbyindex(F["bam"], F["bai"], "Flag", 0,
                                                             np.array([1.5]), F["begins"][0]),
     "numbers", ValueError),
    ("numbers-nan", lambda F: ap.getfeatureinrefbyindex(F["bam"], F["bai"], "Flag", 0,
                                                        np.array([np.nan]), F["begins"][0]),
     "numbers", ValueError),
    ("numbers-too-large", lambda F: ap.getfeatureinrefbyindex(
        F["bam"], F["bai"], "Flag", 0, np.array([2 ** 32], np.int64), F["begins"][0]),
     "numbers", ValueError),
    ("numbers-text", lambda F: ap.getfeatureinrefbyindex(F["bam"], F["bai"], "Flag", 0, ["1"],
                                                         F["begins"][0]), "numbers", TypeError),
    ("numbers-bool", lambda F: ap.getfeatureinrefbyindex(F["bam"], F["bai"], "Flag", 0,
                                                         np.array([True]), F["begins"][0]),
     "numbers", TypeError),
    ("starts-fraction", lambda F: ap.getfeatureinrefbyindex(F["bam"], F["bai"], "Flag", 0, [1],
                                                            np.array([0.25, 3.0])),
     "starts", ValueError),
    ("starts-too-large", lambda F: ap.getfeaturesinrefbyindex(
        F["bam"], F["bai"], ["Flag"], 0, [1], np.array([2 ** 33], np.uint64)),
     "starts", ValueError),
    ("starts-none", lambda F: ap.getfeaturesinrefbyindex(F["bam"], F["bai"], ["Flag"], 0, [1],
                                                         None), "starts", TypeError),
    ("features-text", lambda F: ap.getfeaturesinrefbyindex(F["bam"], F["bai"], "Flag", 0, [1],
                                                           F["begins"][0]),
     "features", TypeError),
    ("features-element", lambda F: ap.getfeaturesinrefbyindex(F["bam"], F["bai"], ["Flag", 3],
                                                              0, [1], F["begins"][0]),
     "features", TypeError),
    ("flag-int", lambda F: ap.writesambyregion(F["bam"], F["bai"], "x.sam", "chr1", 1),
     "optional_fields", TypeError),
    ("flag-none", lambda F: ap.writesamunaligned(F["bam"], "x.sam", None), "optional_fields",
     TypeError),
    ("select-fraction", lambda F: ap.bam2bam(F["bam"], "bam", "x.sam", "sam", [0.5]), "select",
     ValueError),
    ("select-text", lambda F: ap.bam2bam(F["bam"], "bam", "x.sam", "sam", "1"), "select",
     TypeError),
    ("format-none", lambda F: ap.bam2bam(F["bam"], None, "x.sam", "sam"), "src_format",
     TypeError),
    ("first-float", lambda F: ap.dumpinfobyindex(F["bam"], F["bai"], 1.0, 2), "first", TypeError),
    ("last-text", lambda F: ap.dumpinfoinrefbyindex(F["bam"], F["bai"], 0, 1, "2"), "last",
     TypeError),
    ("prefix-number", lambda F: ap.bamsort(F["bam"], 3), "prefix", TypeError),
    ("nout-negative", lambda F: ap.getheader(F["bam"], nout=-1), "nout", ValueError),
    ("nout-float", lambda F: ap.baminfo(F["bam"], nout=1.0), "nout", TypeError),
]


@pytest.mark.parametrize("mine, param, error", [c[1:] for c in BAD], ids=[c[0] for c in BAD])
def test_wrong_arguments_are_refused_before_the_plugin(files, monkeypatch, mine, param, error):
    def no_call(*_, **__):
        raise AssertionError("the plug-in was called")

    monkeypatch.setattr(ap, "call", no_call)
    before = helixo.live_arrays()
    with pytest.raises(error, match=rf"\b{param}\b"):
        mine(files)
    assert helixo.live_arrays() == before


def test_module_help_lists_every_service():
    text = ap.__doc__
    for name in ap.__all__:
        if name != "FEATURES":
            assert name in text
            assert "Raises" in getattr(ap, name).__doc__
