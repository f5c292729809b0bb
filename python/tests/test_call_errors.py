"""helixo.call's errors: the plug-ins' errors and stops against hxrun making the same call
(identifier, message, the files left behind), the package's exception contract, and the
checks made before any plug-in runs."""

from __future__ import annotations

import gc
import pickle
import random

import numpy as np
import pytest

import helixo
from helixo import _host

from conftest import build_dir, run_hxrun_json

SEED = 424242


def sam_text(seed: int, reads: int) -> str:
    """A small coordinate-sorted SAM file with two references."""
    rand = random.Random(seed)
    lines = ["@HD\tVN:1.0\tSO:coordinate", "@SQ\tSN:r1\tLN:5000", "@SQ\tSN:r2\tLN:5000"]
    for ref in ("r1", "r2"):
        for pos in sorted(rand.randrange(1, 4900) for _ in range(reads // 2)):
            n = rand.randrange(20, 60)
            seq = "".join(rand.choice("ACGT") for _ in range(n))
            flag = rand.choice([0, 16, 256, 1024])
            lines.append(f"q{pos}_{n}\t{flag}\t{ref}\t{pos}\t{rand.randrange(61)}\t{n}M\t*\t0\t0"
                         f"\t{seq}\t{'I' * n}")
    return "\n".join(lines) + "\n"


@pytest.fixture(scope="module")
def data(tmp_path_factory):
    """A SAM file with the offsets of its alignment lines, and a BAM file with its index."""
    import pysam

    folder = tmp_path_factory.mktemp("calls")
    sam = folder / "reads.sam"
    text = sam_text(SEED, 60)
    sam.write_text(text)
    offsets, position = [], 0
    for line in text.splitlines(keepends=True):
        if not line.startswith("@"):
            offsets.append(position)
        position += len(line.encode())
    bam = folder / "reads.bam"
    pysam.view("-b", "-o", str(bam), str(sam), catch_stdout=False)
    pysam.index(str(bam))
    raw = folder / "offsets.u32"
    np.array(offsets, dtype="<u4").tofile(raw)
    return {"sam": sam, "bam": bam, "bai": folder / "reads.bam.bai",
            "offsets": np.array(offsets, dtype=np.uint32), "raw_offsets": raw}


def probe_path() -> str:
    return str(build_dir() / "bin" / "hxprobe.so")


# (plug-in, inputs for helixo, the same inputs as hxrun words, nout)
ERROR_CASES = {
    "invalid reference": lambda d: (
        "alignport", ["getstartsinref", d["bam"], d["bai"], 99],
        ["getstartsinref", str(d["bam"]), str(d["bai"]), "double:99"], 3),
    "missing bam": lambda d: (
        "alignport", ["getnumberofreferences", d["bam"].with_name("none.bam")],
        ["getnumberofreferences", str(d["bam"].with_name("none.bam"))], 1),
    "flatmark input count": lambda d: (
        "flatmark", ["table", d["sam"], d["sam"].with_name("x.idx")],
        ["table", str(d["sam"]), str(d["sam"].with_name("x.idx"))], 0),
    "traitmark indexer type": lambda d: (
        "traitmark", ["SAM", "Flag", "uint16", d["sam"], d["sam"], None, np.uint32(1), False,
                      d["offsets"][:1]],
        ["SAM", "Flag", "uint16", str(d["sam"]), str(d["sam"]), "double:[]", "uint32:1",
         "logical:false", "uint32:[%d]" % d["offsets"][0]], 0),
    "traitmark number of entries": lambda d: (
        "traitmark", ["sam", "Flag", "uint16", d["sam"], d["sam"], None, 1.0, False,
                      d["offsets"][:1]],
        ["sam", "Flag", "uint16", str(d["sam"]), str(d["sam"]), "double:[]", "double:1",
         "logical:false", "uint32:[%d]" % d["offsets"][0]], 0),
    "probe host error": lambda d: (probe_path(), ["throw", "host"], ["throw", "host"], 0),
    "probe foreign exception": lambda d: (
        probe_path(), ["throw", "runtime_error"], ["throw", "runtime_error"], 0),
}


@pytest.mark.parametrize("case", sorted(ERROR_CASES))
def test_plugin_errors_carry_the_identifier_and_message_hxrun_reports(hxrun, tmp_path, data,
                                                                      case):
    plugin, inputs, words, nout = ERROR_CASES[case](data)
    gc.collect()
    before = helixo.live_arrays()
    with pytest.raises(helixo.HelixoError) as caught:
        helixo.call(plugin, *inputs, nout=nout)
    doc = run_hxrun_json(hxrun, plugin, words, nout, tmp_path)
    assert not doc["ok"]
    err = caught.value
    identifier, message = doc["error"]["identifier"], doc["error"]["message"]
    assert type(err) is helixo.HelixoError
    assert (err.identifier, err.message) == (identifier, message)
    assert err.args == (identifier, message)
    assert str(err) == f"{identifier}: {message}"
    again = pickle.loads(pickle.dumps(err))
    assert type(again) is helixo.HelixoError
    assert (again.identifier, again.message, again.args) == (identifier, message, err.args)
    del caught, err
    gc.collect()
    assert helixo.live_arrays() == before


def make_index(folder, name: str) -> bytes:
    """An existing index file for traitmark to append to (its bytes as they were)."""
    content = bytes(random.Random(SEED).randrange(256) for _ in range(700))
    (folder / name).write_bytes(content)
    return content


@pytest.mark.parametrize("k", [1, 2, 30, 59, 60, 61, 200])
def test_traitmark_stops_at_poll_k_as_hxrun_does(hxrun, tmp_path, data, k):
    n = len(data["offsets"])
    assert n == 60
    original = make_index(tmp_path, "mine.idx")
    make_index(tmp_path, "peer.idx")
    mine = tmp_path / "mine.idx"
    peer = tmp_path / "peer.idx"
    try:
        helixo.call("traitmark", "sam", "EndPosition", "uint32", data["sam"], mine, None,
                    np.uint32(n), False, data["offsets"], interrupt_at=k)
        outcome = None
    except helixo.Interrupted as err:
        outcome = err.identifier
    doc = run_hxrun_json(hxrun, "traitmark",
                         ["sam", "EndPosition", "uint32", str(data["sam"]), str(peer),
                          "double:[]", f"uint32:{n}", "logical:false",
                          f"uint32@{data['raw_offsets']}"], 0, tmp_path, interrupt_at=k)
    assert outcome == (None if doc["ok"] else doc["error"]["identifier"])
    assert mine.read_bytes() == peer.read_bytes()
    assert (mine.read_bytes() == original) == (k <= n)


@pytest.mark.parametrize("plugin,inputs,words,nout,k", [
    ("alignport", lambda d: ["getstartsinref", d["bam"], d["bai"], 0],
     lambda d: ["getstartsinref", str(d["bam"]), str(d["bai"]), "double:0"], 3, 3),
    ("alignport", lambda d: ["baminfo", d["bam"]], lambda d: ["baminfo", str(d["bam"])], 2, 1),
    ("alignport", lambda d: ["saminfo", d["sam"]], lambda d: ["saminfo", str(d["sam"])], 3, 5),
    ("flatmark", lambda d: ["table", d["sam"], d["sam"].with_name("k.idx"), True, True, True,
                            0, "", "", "@", "\t", ""],
     lambda d: ["table", str(d["sam"]), str(d["sam"].with_name("p.idx")), "logical:true",
                "logical:true", "logical:true", "double:0", "str:", "str:", "@", "\t", "str:"],
     2, 10),
], ids=["getstartsinref", "baminfo", "saminfo", "flatmark"])
def test_stops_raise_interrupted_with_the_plugins_identifier(hxrun, tmp_path, data, plugin,
                                                             inputs, words, nout, k):
    gc.collect()
    before = helixo.live_arrays()
    with pytest.raises(KeyboardInterrupt) as caught:
        helixo.call(plugin, *inputs(data), nout=nout, interrupt_at=k)
    doc = run_hxrun_json(hxrun, plugin, words(data), nout, tmp_path, interrupt_at=k)
    err = caught.value
    assert isinstance(err, helixo.Interrupted) and isinstance(err, helixo.HelixoError)
    assert (err.identifier, err.message) == (doc["error"]["identifier"],
                                             doc["error"]["message"])
    assert err.identifier.endswith(":IterruptedByUser")
    again = pickle.loads(pickle.dumps(err))
    assert type(again) is helixo.Interrupted and again.identifier == err.identifier
    del caught, err
    gc.collect()
    assert helixo.live_arrays() == before
    # Nothing is left pending: the same call without a stop runs to its end.
    assert len(helixo.call(plugin, *inputs(data), nout=nout)) == nout


class BytesPath:
    def __fspath__(self) -> bytes:
        return b"/tmp/x"


BAD_INPUTS = [b"bytes", bytearray(b"x"), {"a": 1}, {1}, object(), BytesPath(),
              np.array(["text"]), np.zeros(2, np.float16), np.array([1, None], dtype=object),
              np.datetime64("2026-01-01"), [1, [2, b"deep"]], (np.longdouble(1),)]


@pytest.mark.parametrize("position", [2, 5, 12])
@pytest.mark.parametrize("bad", BAD_INPUTS, ids=lambda v: type(v).__name__)
def test_inputs_without_a_host_array_raise_type_error_before_the_plugin_runs(tmp_path, data,
                                                                             position, bad):
    index = tmp_path / "never.idx"
    inputs = ["table", data["sam"], index, True, True, True, 0, "", "", "@", "\t", ""]
    inputs[position - 1] = bad
    gc.collect()
    before = helixo.live_arrays()
    with pytest.raises(TypeError, match=f"^input {position}: "):
        helixo.call("flatmark", *inputs, nout=2)
    assert not index.exists()
    assert helixo.live_arrays() == before


@pytest.mark.parametrize("keyword,value,error", [
    ("nout", -1, ValueError), ("nout", 1.0, TypeError), ("nout", True, TypeError),
    ("nout", "2", TypeError), ("interrupt_at", -3, ValueError),
    ("interrupt_at", 2.0, TypeError), ("interrupt_at", None, TypeError),
    ("nout", np.bool_(True), TypeError), ("nout", np.int64(-1), ValueError),
])
def test_nout_and_interrupt_at_are_counts(keyword, value, error):
    with pytest.raises(error, match=keyword):
        helixo.call(probe_path(), "echo", 1, **{keyword: value})


def test_numpy_integers_are_counts_too():
    assert helixo.call(probe_path(), "echo", 4.0, nout=np.uint8(1)) == (4.0,)


def test_a_call_leaves_no_file_descriptor_open(data, tmp_path):
    before = _host.open_fd_count()
    assert before > 0
    helixo.call("alignport", "getstartsinref", data["bam"], data["bai"], 0, nout=3)
    helixo.call("flatmark", "table", data["sam"], tmp_path / "f.idx", True, True, True, 0, "",
                "", "@", "\t", "", nout=2)
    for k in (1, 4):
        with pytest.raises(helixo.Interrupted):
            helixo.call("alignport", "baminfo", data["bam"], nout=2, interrupt_at=k)
    with pytest.raises(helixo.HelixoError):
        helixo.call("alignport", "getnumberofreferences", tmp_path / "none.bam", nout=1)
    assert _host.open_fd_count() == before
