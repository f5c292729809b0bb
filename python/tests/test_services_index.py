"""helixo.flatmark and helixo.traitmark through their wrappers against hxrun making the same host
call: every indexer type in both widths and layouts, every feature, the default offsets read
from the index file itself, a few plug-in errors and the wrappers' own checks."""

from __future__ import annotations

import random
import shutil

import numpy as np
import pytest

import helixo
from helixo import flatmark, traitmark

import bam_fixtures as bf
from conftest import run_hxrun_json


def mrtab_text(rng: random.Random) -> str:
    lines = []
    for k in range(30):
        for _ in range(rng.randrange(1, 4)):
            lines.append(f"chr{k % 7}_{k}\t{rng.randrange(10 ** 6)}\t{rng.random():.4f}")
        if rng.random() < 0.3:
            lines.append("# note")
    return "\n".join(lines) + "\n"


def table_text(rng: random.Random) -> str:
    rows = [f"{k},id{k:03d},{rng.randrange(999)}" for k in range(40)]
    return "#h first\n#h second\n" + "\r\n".join(rows) + "\r\n"


def fasta_text(rng: random.Random) -> str:
    parts = []
    for k in range(12):
        seq = "".join(rng.choice("ACGT") for _ in range(rng.randrange(0, 170)))
        wrapped = "\n".join(seq[i:i + 60] for i in range(0, len(seq), 60))
        parts.append(f">s{k} sample {k}\n{wrapped}\n" if seq else f">s{k}\n")
    return "".join(parts)


def fastq_text(rng: random.Random) -> str:
    parts = []
    for k in range(15):
        n = rng.randrange(1, 90)
        seq = "".join(rng.choice("ACGTN") for _ in range(n))
        qual = "@" + "".join(chr(33 + rng.randrange(41)) for _ in range(n - 1))
        parts.append(f"@q{k}/1\n{seq}\n+\n{qual}\n")
    return "".join(parts)


def flat_text(rng: random.Random) -> str:
    parts = ["## a flat file\n\n"]
    for k in range(10):
        body = "".join(f"XX line {j} {rng.randrange(100)}\n" for j in range(rng.randrange(3)))
        parts.append(f"ID   e{k}\n{body}//\n" if k % 3 else f"{body}ID\n  e{k}\n// \n")
    return "".join(parts)


# (id, text maker, file suffix, keyword arguments of flatmark.index)
KINDS = [
    ("mrtab", "mrtab", mrtab_text, "tsv", dict(comment="#")),
    ("mrtab-field-1", "mrtab", mrtab_text, "tsv", dict(key_fields=1, comment="#")),
    ("table", "table", table_text, "csv", dict(key_fields=1, header="#h", field_delimiter=",")),
    ("fasta", "fasta", fasta_text, "fa", {}),
    ("fastq", "fastq", fastq_text, "fq", {}),
    ("flat", "flat", flat_text, "dat", dict(key_token="ID", header="##", entry_delimiter="//")),
]

_ORDER = ("wide", "consecutive", "keys", "key_fields", "key_token", "comment", "header",
          "field_delimiter", "entry_delimiter")
_DEFAULTS = dict(wide=True, consecutive=True, keys=True, key_fields=0, key_token="",
                 comment="", header="", field_delimiter="\t", entry_delimiter="")


def host_inputs(kind: str, source, index, settings: dict) -> list:
    """flatmark's twelve inputs as the wrapper sends them."""
    values = {**_DEFAULTS, **settings}
    values["key_fields"] = float(values["key_fields"])
    return [kind, str(source), str(index)] + [values[name] for name in _ORDER]


@pytest.mark.parametrize("wide", [True, False], ids=["wide", "narrow"])
@pytest.mark.parametrize("consecutive, keys", [(True, True), (False, False), (False, True)],
                         ids=["consecutive-keys", "paired", "paired-keys"])
@pytest.mark.parametrize("kind, make, suffix, settings", [k[1:] for k in KINDS],
                         ids=[k[0] for k in KINDS])
def test_index_matches_hxrun(hxrun, tmp_path, kind, make, suffix, settings, wide, consecutive,
                             keys):
    source = tmp_path / f"in.{suffix}"
    source.write_bytes(make(random.Random(11)).encode())
    options = dict(settings, wide=wide, consecutive=consecutive, keys=keys)
    mine = flatmark.index(kind, source, tmp_path / "mine.idx", **options)
    doc = run_hxrun_json(hxrun, "flatmark",
                         bf.HxrunArgs(tmp_path)(host_inputs(kind, source, tmp_path / "peer.idx",
                                                            options)), 2, tmp_path)
    assert doc["ok"], doc.get("error")
    peer = tuple(int(bf.from_hxrun(o)) for o in doc["outputs"])
    assert mine == peer and all(type(v) is int for v in mine)
    assert mine[0] > 0
    assert (tmp_path / "mine.idx").read_bytes() == (tmp_path / "peer.idx").read_bytes()


@pytest.mark.parametrize("nout", [0, 1])
def test_index_with_fewer_outputs(tmp_path, nout):
    source = tmp_path / "in.fa"
    source.write_text(fasta_text(random.Random(3)))
    full = flatmark.index("fasta", source, tmp_path / "a.idx")
    fewer = flatmark.index("fasta", source, tmp_path / "b.idx", nout=nout)
    assert fewer == (None if nout == 0 else full[0])
    assert (tmp_path / "a.idx").read_bytes() == (tmp_path / "b.idx").read_bytes()


# --- traitmark ------------------------------------------------------------------------------

def sam_source(tmp_path):
    source = tmp_path / "in.sam"
    source.write_text(bf.generated_sam(seed=5, reads=25))
    return source


def line_starts(data: bytes) -> list:
    starts = [0]
    for k, byte in enumerate(data):
        if byte == 0x0A and k + 1 < len(data):
            starts.append(k + 1)
    return starts


def entry_offsets(kind: str, data: bytes, with_end: bool) -> list:
    """Entry starts found by reading the text directly: SAM alignment lines, FASTA header
    lines, FASTQ records of four lines; with_end adds the end of the file."""
    lines = line_starts(data)
    if kind == "sam":
        starts = [s for s in lines if data[s:s + 1] != b"@"]
    elif kind == "fasta":
        starts = [s for s in lines if data[s:s + 1] == b">"]
    else:
        starts = lines[::4]
    return starts + ([len(data)] if with_end else [])


SOURCES = {
    "sam": (sam_source, "table", dict(header="@", keys=False)),
    "fasta": (lambda p: _write(p / "in.fa", fasta_text(random.Random(9))), "fasta", {}),
    "fastq": (lambda p: _write(p / "in.fq", fastq_text(random.Random(9))), "fastq", {}),
}


def _write(path, text):
    path.write_text(text)
    return path


def run_traitmark_peer(hxrun, tmp_path, kind, feature, source, index, offsets, feature_type):
    """hxrun's traitmark on explicit offsets, with the inputs the wrapper sends."""
    n = len(offsets) - 1 if (kind, feature) == ("fasta", "Length") else len(offsets)
    inputs = [kind, feature, feature_type, str(source), str(index), None, np.uint32(n),
              offsets.dtype == np.uint64, offsets]
    return run_hxrun_json(hxrun, "traitmark", bf.HxrunArgs(tmp_path)(inputs), 0, tmp_path)


FEATURE_CASES = [(kind, name) for kind, name in traitmark.FEATURES]


@pytest.mark.parametrize("form", ["uint32", "uint64", "list"])
@pytest.mark.parametrize("kind, feature", FEATURE_CASES, ids=[f"{k}-{f}" for k, f in FEATURE_CASES])
def test_append_with_offsets_matches_hxrun(hxrun, tmp_path, kind, feature, form):
    make, _, _ = SOURCES[kind]
    source = make(tmp_path)
    starts = entry_offsets(kind, source.read_bytes(), (kind, feature) == ("fasta", "Length"))
    offsets = starts if form == "list" else np.array(starts, dtype=form)
    sent = np.array(starts, dtype=np.uint32 if form == "uint32" else np.uint64)
    for name in ("mine.idx", "peer.idx"):
        (tmp_path / name).write_bytes(b"existing bytes\n")
    traitmark.append(kind, feature, source, tmp_path / "mine.idx", offsets=offsets)
    width = traitmark.FEATURES[(kind, feature)]
    doc = run_traitmark_peer(hxrun, tmp_path, kind, feature, source, tmp_path / "peer.idx", sent,
                             f"uint{8 * width}")
    assert doc["ok"], doc.get("error")
    mine = (tmp_path / "mine.idx").read_bytes()
    assert mine == (tmp_path / "peer.idx").read_bytes()
    entries = len(starts) - ((kind, feature) == ("fasta", "Length"))
    assert len(mine) == len(b"existing bytes\n") + width * entries


@pytest.mark.parametrize("wide", [True, False], ids=["wide", "narrow"])
@pytest.mark.parametrize("consecutive", [True, False], ids=["consecutive", "paired"])
@pytest.mark.parametrize("kind, features", [("sam", ["Flag", "EndPosition", "Reference"]),
                                            ("fasta", ["Length"]), ("fastq", ["Length"])])
def test_default_offsets_come_from_the_index(hxrun, tmp_path, kind, features, wide, consecutive):
    make, indexer, settings = SOURCES[kind]
    source = make(tmp_path)
    data = source.read_bytes()
    flatmark.index(indexer, source, tmp_path / "mine.idx", wide=wide, consecutive=consecutive,
                   **settings)
    shutil.copy(tmp_path / "mine.idx", tmp_path / "peer.idx")
    for feature in features:  # later columns follow the ones already appended
        traitmark.append(kind, feature, source, tmp_path / "mine.idx")
        starts = entry_offsets(kind, data, (kind, feature) == ("fasta", "Length"))
        sent = np.array(starts, dtype=np.uint64 if wide else np.uint32)
        width = traitmark.FEATURES[(kind, feature)]
        doc = run_traitmark_peer(hxrun, tmp_path, kind, feature, source, tmp_path / "peer.idx",
                                 sent, f"uint{8 * width}")
        assert doc["ok"], doc.get("error")
        assert (tmp_path / "mine.idx").read_bytes() == (tmp_path / "peer.idx").read_bytes()


# --- errors -----------------------------------------------------------------------------------

def _fasta(tmp_path):
    return _write(tmp_path / "e.fa", ">a\nAC\n>b\nGT\n")


# (id, wrapper call, plug-in, host inputs); the peer is hxrun's error for the same call.
ERRORS = [
    ("flatmark-unknown-type", lambda p: flatmark.index("FASTA", _fasta(p), p / "x.idx"),
     "flatmark", lambda p: host_inputs("FASTA", _fasta(p), p / "y.idx", {})),
    ("flatmark-missing-source", lambda p: flatmark.index("fasta", p / "none.fa", p / "x.idx"),
     "flatmark", lambda p: host_inputs("fasta", p / "none.fa", p / "y.idx", {})),
    ("flatmark-empty-delimiter", lambda p: flatmark.index("table", _fasta(p), p / "x.idx",
                                                          field_delimiter=""),
     "flatmark", lambda p: host_inputs("table", _fasta(p), p / "y.idx",
                                       dict(field_delimiter=""))),
    ("flatmark-flat-without-delimiter", lambda p: flatmark.index("flat", _fasta(p), p / "x.idx"),
     "flatmark", lambda p: host_inputs("flat", _fasta(p), p / "y.idx", {})),
    ("flatmark-key-not-found", lambda p: flatmark.index("table", _fasta(p), p / "x.idx",
                                                        key_fields=3),
     "flatmark", lambda p: host_inputs("table", _fasta(p), p / "y.idx", dict(key_fields=3))),
    ("traitmark-unknown-feature", lambda p: traitmark.append("sam", "Length", _fasta(p),
                                                             p / "none.idx"),
     "traitmark", lambda p: ["sam", "Length", "uint8", str(_fasta(p)), str(p / "none.idx"), None,
                             np.uint32(0), False, np.empty(0, np.uint32)]),
    ("traitmark-unknown-kind", lambda p: traitmark.append("SAM", "Flag", _fasta(p), _fasta(p),
                                                          offsets=[0]),
     "traitmark", lambda p: ["SAM", "Flag", "uint8", str(_fasta(p)), str(_fasta(p)), None,
                             np.uint32(1), True, np.array([0], np.uint64)]),
    ("traitmark-feature-type", lambda p: traitmark.append("fasta", "Length", _fasta(p), _fasta(p),
                                                          feature_type="double", offsets=[0, 6]),
     "traitmark", lambda p: ["fasta", "Length", "double", str(_fasta(p)), str(_fasta(p)), None,
                             np.uint32(1), True, np.array([0, 6], np.uint64)]),
    ("traitmark-missing-index", lambda p: traitmark.append("fasta", "Length", _fasta(p),
                                                           p / "none.idx"),
     "traitmark", lambda p: ["fasta", "Length", "uint32", str(_fasta(p)), str(p / "none.idx"),
                             None, np.uint32(0), False, np.empty(0, np.uint32)]),
]


@pytest.mark.parametrize("mine, plugin, host", [c[1:] for c in ERRORS], ids=[c[0] for c in ERRORS])
def test_plugin_errors_reach_the_user(hxrun, tmp_path, mine, plugin, host):
    before = helixo.live_arrays()
    with pytest.raises(helixo.HelixoError) as caught:
        mine(tmp_path)
    assert helixo.live_arrays() == before
    doc = run_hxrun_json(hxrun, plugin, bf.HxrunArgs(tmp_path)(host(tmp_path)), 0, tmp_path)
    assert not doc["ok"]
    assert (caught.value.identifier, caught.value.message) == \
        (doc["error"]["identifier"], doc["error"]["message"])
    assert not (tmp_path / "none.idx").exists()


# (id, wrapper call, parameter named, exception): refused before any plug-in runs.
BAD = [
    ("kind-number", lambda p: flatmark.index(1, "a.fa", "a.idx"), "kind", TypeError),
    ("source-bytes", lambda p: flatmark.index("fasta", b"a.fa", "a.idx"), "source", TypeError),
    ("index-none", lambda p: flatmark.index("fasta", "a.fa", None), "index", TypeError),
    ("wide-int", lambda p: flatmark.index("fasta", "a.fa", "a.idx", wide=1), "wide", TypeError),
    ("consecutive-none", lambda p: flatmark.index("fasta", "a.fa", "a.idx", consecutive=None),
     "consecutive", TypeError),
    ("keys-text", lambda p: flatmark.index("fasta", "a.fa", "a.idx", keys="yes"), "keys",
     TypeError),
    ("key-fields-float", lambda p: flatmark.index("table", "a", "a.idx", key_fields=1.5),
     "key_fields", TypeError),
    ("key-fields-bool", lambda p: flatmark.index("table", "a", "a.idx", key_fields=True),
     "key_fields", TypeError),
    ("delimiter-bytes", lambda p: flatmark.index("table", "a", "a.idx", field_delimiter=b","),
     "field_delimiter", TypeError),
    ("entry-delimiter-list", lambda p: flatmark.index("flat", "a", "a.idx", entry_delimiter=["/"]),
     "entry_delimiter", TypeError),
    ("nout-negative", lambda p: flatmark.index("fasta", "a.fa", "a.idx", nout=-1), "nout",
     ValueError),
    ("trait-kind", lambda p: traitmark.append(None, "Flag", "a.sam", "a.idx"), "kind", TypeError),
    ("trait-feature", lambda p: traitmark.append("sam", 3, "a.sam", "a.idx"), "feature",
     TypeError),
    ("trait-feature-type", lambda p: traitmark.append("sam", "Flag", "a.sam", "a.idx",
                                                      feature_type=16), "feature_type", TypeError),
    ("trait-index-bytes", lambda p: traitmark.append("sam", "Flag", "a.sam", b"a.idx"), "index",
     TypeError),
    ("offsets-negative", lambda p: traitmark.append("sam", "Flag", "a.sam", "a.idx",
                                                    offsets=[0, -1]), "offsets", ValueError),
    ("offsets-fraction", lambda p: traitmark.append("sam", "Flag", "a.sam", "a.idx",
                                                    offsets=np.array([0.5])), "offsets",
     ValueError),
    ("offsets-matrix", lambda p: traitmark.append("sam", "Flag", "a.sam", "a.idx",
                                                  offsets=np.zeros((2, 2), np.uint32)),
     "offsets", ValueError),
    ("offsets-text", lambda p: traitmark.append("sam", "Flag", "a.sam", "a.idx", offsets="0"),
     "offsets", TypeError),
    ("offsets-bool", lambda p: traitmark.append("sam", "Flag", "a.sam", "a.idx",
                                                offsets=np.array([True])), "offsets", TypeError),
]


@pytest.mark.parametrize("mine, param, error", [c[1:] for c in BAD], ids=[c[0] for c in BAD])
def test_wrong_arguments_are_refused_before_the_plugin(tmp_path, monkeypatch, mine, param, error):
    def no_call(*_, **__):
        raise AssertionError("the plug-in was called")

    monkeypatch.setattr(flatmark, "call", no_call)
    monkeypatch.setattr(traitmark, "call", no_call)
    monkeypatch.setattr(traitmark, "_index_offsets", no_call)
    before = helixo.live_arrays()
    with pytest.raises(error, match=rf"\b{param}\b"):
        mine(tmp_path)
    assert helixo.live_arrays() == before


def test_offsets_of_other_integer_dtypes_are_sent_as_uint64(tmp_path, monkeypatch):
    sent = []
    monkeypatch.setattr(traitmark, "call", lambda *inputs, nout: sent.append(inputs))
    traitmark.append("fasta", "Length", "a.fa", "a.idx", offsets=np.array([0, 6, 12], np.int16))
    traitmark.append("sam", "Flag", "a.sam", "a.idx", offsets=np.array([3, 9], np.uint32))
    (first, second) = sent  # plug-in, kind, feature, type, source, index, -, N, wide, offsets
    assert first[7] == np.uint32(2) and first[8] is True
    assert first[9].dtype == np.uint64 and first[9].tolist() == [0, 6, 12]
    assert second[7] == np.uint32(2) and second[8] is False and second[9].dtype == np.uint32
    assert first[3] == "uint32" and second[3] == "uint16"
