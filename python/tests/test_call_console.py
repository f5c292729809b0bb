"""Console text of a call: it reaches Python's sys.stdout in order (redirect_stdout sees it), in
chunks while the call runs, as hxrun prints it; a failing sys.stdout is reported after the call."""

from __future__ import annotations

import contextlib
import io
import random

import pytest

import helixo

from conftest import build_dir, run_hxrun_json

SEED = 99173


@pytest.fixture(scope="module")
def big_bam(tmp_path_factory):
    """A BAM file of a few thousand alignments: its dumps print well over the console chunk."""
    import pysam

    rand = random.Random(SEED)
    folder = tmp_path_factory.mktemp("console")
    sam = folder / "many.sam"
    lines = ["@HD\tVN:1.0\tSO:coordinate", "@SQ\tSN:c1\tLN:100000"]
    for k, pos in enumerate(sorted(rand.randrange(1, 99000) for _ in range(3000))):
        seq = "".join(rand.choice("ACGT") for _ in range(100))
        lines.append(f"read{k}\t0\tc1\t{pos}\t60\t100M\t*\t0\t0\t{seq}\t{'F' * 100}\tNM:i:0")
    sam.write_text("\n".join(lines) + "\n")
    bam = folder / "many.bam"
    pysam.view("-b", "-o", str(bam), str(sam), catch_stdout=False)
    pysam.index(str(bam))
    return bam


class RecordingStdout(io.StringIO):
    """A sys.stdout that remembers each write."""

    def __init__(self, fail_at: int = 0, reenter=None):
        super().__init__()
        self.writes: list[str] = []
        self.fail_at = fail_at
        self.reenter = reenter
        self.reentry_error = None

    def write(self, text: str) -> int:
        self.writes.append(text)
        if self.reenter is not None and len(self.writes) == 1:
            try:
                self.reenter()
            except RuntimeError as error:
                self.reentry_error = error
        if self.fail_at and len(self.writes) == self.fail_at:
            raise OSError("the console is gone")
        return super().write(text)


@pytest.mark.parametrize("service,arguments", [
    ("dumpinfobyregion", ["c1:1-5000"]),
    ("dumpinfobyindex", [3.0, 40.0]),
    ("dumpinfoinrefbyindex", [0.0, 10.0, 20.0]),
])
def test_dump_text_reaches_redirected_stdout_in_order(hxrun, tmp_path, big_bam, service,
                                                      arguments):
    bai = str(big_bam) + ".bai"
    captured = io.StringIO()
    with contextlib.redirect_stdout(captured):
        print("before")
        helixo.call("alignport", service, big_bam, bai, *arguments)
        print("after")
    words = [service, str(big_bam), bai] + [a if isinstance(a, str) else f"double:{a}"
                                             for a in arguments]
    doc = run_hxrun_json(hxrun, "alignport", words, 0, tmp_path)
    assert doc["ok"]
    printed = doc["stdout"].decode()
    assert len(printed) > 100
    assert captured.getvalue() == "before\n" + printed + "after\n"


def test_long_dumps_are_written_in_chunks_during_the_call(hxrun, tmp_path, big_bam):
    bai = str(big_bam) + ".bai"
    out = RecordingStdout()
    with contextlib.redirect_stdout(out):
        helixo.call("alignport", "dumpinfobyregion", big_bam, bai, "c1")
    doc = run_hxrun_json(hxrun, "alignport", ["dumpinfobyregion", str(big_bam), bai, "c1"], 0,
                         tmp_path)
    assert out.getvalue() == doc["stdout"].decode()
    assert len(out.writes) >= 5
    assert all(len(chunk) >= 64 * 1024 for chunk in out.writes[:-1])
    assert all(len(chunk) < 80 * 1024 for chunk in out.writes)


def test_a_failing_stdout_is_raised_after_the_call(big_bam):
    bai = str(big_bam) + ".bai"
    out = RecordingStdout(fail_at=2)
    with contextlib.redirect_stdout(out), pytest.raises(OSError, match="console is gone"):
        helixo.call("alignport", "dumpinfobyregion", big_bam, bai, "c1")
    assert len(out.writes) == 2  # the text after the failure is dropped, not retried


@pytest.fixture(scope="module")
def cut_bam(big_bam):
    """The BAM file cut in half: a dump prints the alignments before the cut, then fails."""
    cut = big_bam.with_name("cut.bam")
    content = big_bam.read_bytes()
    cut.write_bytes(content[:len(content) // 2])
    return cut


def test_text_of_a_failing_call_is_written_before_the_error(hxrun, tmp_path, big_bam, cut_bam):
    bai = str(big_bam) + ".bai"
    out = RecordingStdout()
    with contextlib.redirect_stdout(out), pytest.raises(helixo.HelixoError) as caught:
        helixo.call("alignport", "dumpinfobyregion", cut_bam, bai, "c1")
    doc = run_hxrun_json(hxrun, "alignport", ["dumpinfobyregion", str(cut_bam), bai, "c1"], 0,
                         tmp_path)
    assert not doc["ok"] and caught.value.identifier == doc["error"]["identifier"]
    assert len(out.writes) >= 2
    assert out.getvalue() == doc["stdout"].decode()
    assert caught.value.__context__ is None


def test_a_call_error_wins_over_a_failing_stdout_and_keeps_it_as_context(big_bam, cut_bam):
    bai = str(big_bam) + ".bai"
    out = RecordingStdout(fail_at=1)
    with contextlib.redirect_stdout(out), pytest.raises(helixo.HelixoError) as caught:
        helixo.call("alignport", "dumpinfobyregion", cut_bam, bai, "c1")
    assert caught.value.identifier == "helixo:alignport:CorruptedBAMFile"
    assert isinstance(caught.value.__context__, OSError)
    assert len(out.writes) == 1


def test_a_call_from_inside_a_console_write_raises_instead_of_waiting(big_bam):
    probe = build_dir() / "bin" / "hxprobe.so"
    bai = str(big_bam) + ".bai"
    out = RecordingStdout(reenter=lambda: helixo.call(probe, "echo", 1.0, nout=1))
    with contextlib.redirect_stdout(out):
        helixo.call("alignport", "dumpinfobyregion", big_bam, bai, "c1")
    assert isinstance(out.reentry_error, RuntimeError)
    assert "another call is running" in str(out.reentry_error)
    assert helixo.call(probe, "echo", 2.0, nout=1) == (2.0,)


def test_non_ascii_console_text_arrives_as_hxrun_prints_it(hxrun, tmp_path):
    probe = build_dir() / "bin" / "hxprobe.so"
    text = "h\u00e9llo \u4e2d\u6587 \U0001f600\n"
    out = RecordingStdout()
    with contextlib.redirect_stdout(out):
        helixo.call(probe, "print", text)
    doc = run_hxrun_json(hxrun, str(probe), ["print", text], 0, tmp_path)
    assert out.getvalue() == doc["stdout"].decode() == text + "|42|%d|"
