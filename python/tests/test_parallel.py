"""helixo.parallel: every ready-made split against the serial calls on a local cluster of two
worker processes; failures of a task (a damaged BAM among five), of a worker (killed during its
task) and of a scheduler address; a cluster started by hand with dask-scheduler and two
dask-worker processes; Ctrl-C to a child Python running a parallel flatmark job; the progress
bar on a terminal."""

from __future__ import annotations

import json
import os
import pathlib
import pty
import random
import signal
import socket
import subprocess
import textwrap
import time

import numpy as np
import psutil
import pytest

import helixo
from helixo import alignport as ap
from helixo import parallel

import bam_fixtures as bf
import parallel_tasks
from test_call_signals import PipeFeeder, child_env, wait_until

PYTHON = "/usr/bin/python3"
TESTS = pathlib.Path(__file__).resolve().parent

# Worker processes inherit the interpreter's LD_PRELOAD of the ASan runtime: a dozen
# sanitised interpreters (scheduler, workers, spawned children) on two cores take minutes to
# start, and they would check Dask rather than helixo. The code under test here is Python; its
# one native addition, _host.request_interrupt, is tested in test_call_signals, which does run
# sanitised.
pytestmark = pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                reason="Dask's worker processes under the ASan preload")


@pytest.fixture(scope="module")
def client():
    cluster, dask_client = parallel.local_cluster(2)
    yield dask_client
    dask_client.close()
    cluster.close()


@pytest.fixture
def workers(client):
    """The local cluster with both workers up (a killed one is restarted by its nanny)."""
    client.wait_for_workers(2, timeout=60)
    return client


@pytest.fixture(scope="module")
def data(tmp_path_factory) -> dict:
    folder = tmp_path_factory.mktemp("parallel")
    bams, sams = [], []
    for k in range(5):
        sam, bam, _ = bf.make_bam(folder, bf.generated_sam(seed=30 + k, references=4,
                                                           reads=60 + 10 * k), f"b{k}")
        bams.append(str(bam))
        sams.append(str(sam))
    damaged = folder / "damaged.bam"
    damaged.write_bytes(pathlib.Path(bams[2]).read_bytes()[:-2000])
    rng = random.Random(4)
    texts = []
    for k in range(3):
        path = folder / f"t{k}.fastq"
        path.write_text("".join(_fastq_record(rng, f"q{k}_{i}") for i in range(200 + k)))
        texts.append(str(path))
    return {"folder": folder, "bam": bams[0], "bai": bams[0] + ".bai", "bams": bams,
            "sams": sams, "damaged": str(damaged), "fastqs": texts}


def _fastq_record(rng: random.Random, name: str) -> str:
    n = 20 + rng.randrange(60)
    return f"@{name}\n{''.join(rng.choice('ACGT') for _ in range(n))}\n+\n{'I' * n}\n"


def same(mine, serial, where="result") -> None:
    """Equal structure, types, dtypes and values, as the serial call returned them."""
    assert type(mine) is type(serial), f"{where}: {type(mine)} against {type(serial)}"
    if isinstance(serial, dict):
        assert list(mine) == list(serial), where
        for key in serial:
            same(mine[key], serial[key], f"{where}[{key!r}]")
    elif isinstance(serial, (list, tuple)):
        assert len(mine) == len(serial), where
        for k, (a, b) in enumerate(zip(mine, serial)):
            same(a, b, f"{where}[{k}]")
    elif isinstance(serial, (np.ndarray, np.generic)):
        assert mine.dtype == serial.dtype and np.shape(mine) == np.shape(serial), where
        assert np.array_equal(mine, serial), where
    else:
        assert mine == serial, where


def _names(d):
    return list(ap.getheader(d["bam"])[1])


def _write_serial(d, regions, folder, **flags):
    folder.mkdir()
    paths = []
    for k, region in enumerate(regions):
        path = folder / parallel.sam_file_name(k, len(regions), region)
        ap.writesambyregion(d["bam"], d["bai"], path, region, **flags)
        paths.append(path.read_bytes())
    return paths


def _write_parallel(d, regions, folder, client, **flags):
    written = parallel.writesambyregion(d["bam"], d["bai"], regions, folder, client=client,
                                        **flags)
    assert [pathlib.Path(p).parent for p in written] == [folder] * len(regions)
    return [pathlib.Path(p).read_bytes() for p in written]


REGIONS = ["chr1", "chr2:100-3000", "chr1:1-900", "chr3", "chr1:1-900"]

# (case, parallel call, the same work as serial calls); each gets the data and a fresh folder.
SPLITS = [
    ("starts-every-reference",
     lambda d, t, c: parallel.starts(d["bam"], d["bai"], client=c),
     lambda d, t: {name: ap.getstartsinref(d["bam"], d["bai"], name) for name in _names(d)}),
    ("starts-named-and-numbered",
     lambda d, t, c: parallel.starts(d["bam"], d["bai"], ["chr2", 0, 3], client=c),
     lambda d, t: {r: ap.getstartsinref(d["bam"], d["bai"], r) for r in ["chr2", 0, 3]}),
    ("features-all",
     lambda d, t, c: parallel.features(d["bam"], d["bai"], {0: [1, 2, 9], "chr2": [3, 4]},
                                       client=c),
     lambda d, t: {0: helixo.Alignments(d["bam"], d["bai"]).features(0, [1, 2, 9]),
                   "chr2": helixo.Alignments(d["bam"], d["bai"]).features("chr2", [3, 4])}),
    ("features-named",
     lambda d, t, c: parallel.features(d["bam"], d["bai"], {1: np.arange(1, 50, 7)},
                                       ["Sequence", "EndPosition"], client=c),
     lambda d, t: {1: helixo.Alignments(d["bam"], d["bai"]).features(
         1, np.arange(1, 50, 7), ["Sequence", "EndPosition"])}),
    ("baminfo",
     lambda d, t, c: parallel.baminfo(d["bams"], client=c),
     lambda d, t: [ap.baminfo(b) for b in d["bams"]]),
    ("saminfo",
     lambda d, t, c: parallel.saminfo(d["sams"], client=c),
     lambda d, t: [ap.saminfo(s) for s in d["sams"]]),
    ("writesambyregion",
     lambda d, t, c: _write_parallel(d, REGIONS, t / "p", c),
     lambda d, t: _write_serial(d, REGIONS, t / "s")),
    ("writesambyregion-contained-trimmed",
     lambda d, t, c: _write_parallel(d, REGIONS, t / "p", c, optional_fields=False,
                                     contained=True),
     lambda d, t: _write_serial(d, REGIONS, t / "s", optional_fields=False, contained=True)),
    ("index",
     lambda d, t, c: [parallel.index("fastq", d["fastqs"], [t / f"p{k}" for k in range(3)],
                                     client=c)] + [(t / f"p{k}").read_bytes() for k in range(3)],
     lambda d, t: [[helixo.flatmark.index("fastq", s, t / f"s{k}")
                    for k, s in enumerate(d["fastqs"])]]
     + [(t / f"s{k}").read_bytes() for k in range(3)]),
    ("index-narrow-paired-no-keys",
     lambda d, t, c: [parallel.index("fastq", d["fastqs"], [t / f"p{k}" for k in range(3)],
                                     wide=False, consecutive=False, keys=False, client=c)]
     + [(t / f"p{k}").read_bytes() for k in range(3)],
     lambda d, t: [[helixo.flatmark.index("fastq", s, t / f"s{k}", wide=False,
                                          consecutive=False, keys=False)
                    for k, s in enumerate(d["fastqs"])]]
     + [(t / f"s{k}").read_bytes() for k in range(3)]),
]


@pytest.mark.parametrize("run, serial", [c[1:] for c in SPLITS], ids=[c[0] for c in SPLITS])
def test_split_equals_the_serial_calls(workers, data, tmp_path, run, serial):
    same(run(data, tmp_path, workers), serial(data, tmp_path))


def test_map_keeps_the_order_of_the_items(workers):
    items = list(range(40))[::-1]
    assert parallel.map(abs, [-i for i in items], client=workers) == items
    assert parallel.map(abs, [], client=workers) == []


def _damaged(data):
    bams = list(data["bams"])
    bams[2] = data["damaged"]
    return bams


@pytest.mark.parametrize("run", [
    lambda bams, c, errors: parallel.baminfo(bams, client=c, errors=errors),
    lambda bams, c, errors: parallel.map(ap.baminfo, bams, client=c, errors=errors),
], ids=["baminfo", "map"])
def test_a_damaged_bam_among_five_gives_its_error_and_names_it(workers, data, run):
    bams = _damaged(data)
    with pytest.raises(helixo.HelixoError) as serial:
        ap.baminfo(bams[2])
    with pytest.raises(helixo.HelixoError) as raised:
        run(bams, workers, "raise")
    assert raised.value.args == serial.value.args
    assert raised.value.item == bams[2]
    returned = run(bams, workers, "return")
    assert type(returned[2]) is helixo.HelixoError
    assert returned[2].args == serial.value.args and returned[2].item == bams[2]
    same(returned[:2] + returned[3:], [ap.baminfo(b) for b in bams[:2] + bams[3:]])


@pytest.mark.parametrize("errors", ["raise", "return"])
def test_a_worker_killed_during_its_task_is_worker_lost(workers, errors):
    if errors == "raise":
        with pytest.raises(helixo.HelixoError) as raised:
            parallel.map(parallel_tasks.die_at, range(5), client=workers)
        lost = raised.value
    else:
        results = parallel.map(parallel_tasks.die_at, range(5), client=workers, errors=errors)
        assert results[:2] + results[3:] == [0, 1, 3, 4]
        lost = results[2]
    assert isinstance(lost, helixo.HelixoError) and lost.identifier == parallel.WORKER_LOST
    assert lost.item == 2


def _free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_an_unreachable_scheduler_address_is_reported_in_time():
    address = f"tcp://127.0.0.1:{_free_port()}"
    started = time.monotonic()
    with pytest.raises(helixo.HelixoError) as raised:
        parallel.map(abs, [1], client=address)
    assert raised.value.identifier == parallel.SCHEDULER_UNREACHABLE
    assert address in raised.value.message
    assert time.monotonic() - started < 10


def _stop(processes) -> None:
    for p in processes:
        if p.poll() is None:
            p.terminate()
    for p in processes:
        try:
            p.wait(timeout=20)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


def test_a_cluster_started_by_hand_runs_a_split_by_address(data, tmp_path):
    env = child_env()
    env["PYTHONPATH"] += os.pathsep + str(TESTS)
    scheduler_file = tmp_path / "scheduler.json"
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "env": env}
    processes = [subprocess.Popen(
        ["dask-scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
         "--scheduler-file", str(scheduler_file)], **quiet)]
    address = None
    try:
        deadline = time.monotonic() + 60
        while not scheduler_file.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        address = json.loads(scheduler_file.read_text())["address"]
        processes += [subprocess.Popen(
            ["dask-worker", address, "--host", "127.0.0.1", "--nthreads", "1", "--no-nanny",
             "--no-dashboard"], **quiet) for _ in range(2)]
        import distributed  # pylint: disable=import-outside-toplevel
        with distributed.Client(address, set_as_default=False) as watcher:
            watcher.wait_for_workers(2, timeout=60)
        same(parallel.starts(data["bam"], data["bai"], client=address),
             {name: ap.getstartsinref(data["bam"], data["bai"], name) for name in _names(data)})
        pids = parallel.map(parallel_tasks.pid, range(8), client=address)
        assert set(pids) <= {p.pid for p in processes[1:]}
    finally:
        if address is not None:
            parallel.close(address)
        _stop(processes)
    assert all(p.returncode is not None for p in processes)


def _descendants(pid: int) -> list:
    try:
        return psutil.Process(pid).children(recursive=True)
    except psutil.NoSuchProcess:
        return []


def test_ctrl_c_stops_a_parallel_index_and_raises_interrupted(tmp_path):
    sources = [tmp_path / f"long{k}.tsv" for k in range(2)]
    feeders = [PipeFeeder(s) for s in sources]
    indexes = [tmp_path / f"long{k}.idx" for k in range(2)]
    # The embedded default cluster; the child's output is a pipe, so no progress bar.
    child = subprocess.Popen([PYTHON, "-c", textwrap.dedent(f"""
        import helixo
        try:
            helixo.parallel.index("table", {[str(s) for s in sources]!r},
                                  {[str(i) for i in indexes]!r})
            print("returned")
        except helixo.Interrupted as err:
            print("Interrupted", err.identifier, isinstance(err, KeyboardInterrupt))
        """)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=child_env(), text=True,
        start_new_session=True)
    try:
        # Both scans under way on their workers, neither able to end before the signal.
        wait_until(lambda: all(f.written > (4 << 20) for f in feeders), child, seconds=60)
        workers = _descendants(child.pid)
        # As a terminal's Ctrl-C: to the whole process group, the workers included.
        os.killpg(child.pid, signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        for feeder in feeders:
            feeder.stop()
        if child.poll() is None:
            child.kill()
    assert child.returncode == 0, err
    assert out.splitlines() == ["Interrupted helixo:flatmark:IterruptedByUser True"]
    assert "Traceback" not in err, err
    # Each scan stopped: the placeholder header and the keys so far, no magic.
    for index in indexes:
        assert index.read_bytes()[:512] == bytes(512)
    psutil.wait_procs(workers, timeout=10)
    assert not [w.pid for w in workers if w.is_running() and w.status() != psutil.STATUS_ZOMBIE]


def test_a_run_of_some_seconds_shows_a_progress_bar_on_a_terminal():
    pid, fd = pty.fork()
    if pid == 0:  # the child: a terminal on its standard output
        os.execve(PYTHON, [PYTHON, "-c", textwrap.dedent(f"""
            import time, helixo
            helixo.parallel.map(time.sleep, [{parallel.PROGRESS_AFTER_SECONDS + 1.5}] * 2)
            print("done")
            """)], child_env())
    output = b""
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the child closed the terminal
            break
        if not chunk:
            break
        output += chunk
    os.close(fd)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0, output
    text = output.decode(errors="replace")
    assert "% Completed" in text and text.rstrip().endswith("done")
