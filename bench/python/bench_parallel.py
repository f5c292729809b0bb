#!/usr/bin/python3
"""helixo.parallel on the embedded local cluster against the serial calls, side by side in one run.

Makes its own seeded data with tools/mksample (three references each): FILES BAM files of
RECORDS alignments or more, and one BAM file of BIG alignments or more. The cluster is started
and warmed first (its start-up is reported, not counted), then, alternating the contenders, best
and median of REPEAT runs in this one process:

  baminfo          helixo.parallel.baminfo over the FILES BAM files against a plain loop of
                   helixo.alignport.baminfo.
  starts           helixo.parallel.starts of every reference of the big BAM file (one task per
                   reference, the header read included) against getstartsinref of each in turn.
  round_trip       the scheduler's own overhead: one empty task's round trip (best of ROUNDS), and
                   the time per task of 1000 empty tasks in one run.

One line per result:
  bench=python_parallel case=NAME parallel_s=T serial_s=T ratio=R limit=L median_ratio=R ...
  bench=python_parallel case=round_trip one_task_ms=T per_task_ms=T workers=N
  bench=python_parallel case=cluster_start seconds=T workers=N

Usage: bench/python/bench_parallel.py BUILD_DIR WORK_DIR [--files N] [--records N] [--big N]
                                      [--repeat K] [--rounds K]
"""
from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import time


def made(build: str, folder: str, seed: int, records: int) -> str:
    """folder/sample.bam of at least `records` alignments from mksample (made once)."""
    per_reference = -(-records // 3)
    per_reference += per_reference % 2  # mksample writes pairs
    marker = os.path.join(folder, "reads.txt")
    wanted = f"{seed} {per_reference}"
    if not (os.path.exists(marker) and open(marker).read() == wanted):
        os.makedirs(folder, exist_ok=True)
        subprocess.run([os.path.join(build, "bin", "mksample"), folder, str(seed),
                        str(per_reference)], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        open(marker, "w").write(wanted)
    return os.path.join(folder, "sample.bam")


def timed(step) -> float:
    t0 = time.perf_counter()
    step()
    return time.perf_counter() - t0


def side_by_side(repeat: int, parallel_step, serial_step) -> tuple[list[float], list[float]]:
    ours, theirs = [], []
    for k in range(repeat):
        steps = [(ours, parallel_step), (theirs, serial_step)]
        for times, step in (steps if k % 2 == 0 else steps[::-1]):
            times.append(timed(step))
    return ours, theirs


def report(case: str, ours: list[float], theirs: list[float], limit: float, extra: str) -> None:
    print(f"bench=python_parallel case={case} parallel_s={min(ours):.4f} "
          f"serial_s={min(theirs):.4f} ratio={min(ours) / min(theirs):.3f} limit={limit} "
          f"median_ratio={statistics.median(ours) / statistics.median(theirs):.3f} {extra}",
          flush=True)


def main() -> int:
    p = argparse.ArgumentParser()
    p.add_argument("build")
    p.add_argument("work")
    p.add_argument("--files", type=int, default=8)
    p.add_argument("--records", type=int, default=1_000_000, help="alignments per cohort file")
    p.add_argument("--big", type=int, default=4_000_000, help="alignments of the big file")
    p.add_argument("--repeat", type=int, default=5)
    p.add_argument("--rounds", type=int, default=50)
    a = p.parse_args()
    build = os.path.abspath(a.build)
    sys.path.insert(0, os.path.join(build, "python"))
    import helixo  # pylint: disable=import-outside-toplevel
    from helixo import alignport, parallel  # pylint: disable=import-outside-toplevel

    work = os.path.abspath(a.work)
    bams = [made(build, os.path.join(work, f"cohort{k}"), 21 + k, a.records)
            for k in range(a.files)]
    big = made(build, os.path.join(work, "big"), 31, a.big)
    big_bai = big + ".bai"

    started = timed(lambda: parallel.map(abs, [0]))
    workers = len(parallel._local_client().scheduler_info()["workers"])  # pylint: disable=protected-access
    print(f"bench=python_parallel case=cluster_start seconds={started:.3f} workers={workers}",
          flush=True)

    names = list(alignport.getheader(big)[1])
    records = sum(int(c) for c in alignport.baminfo(bams[0])[1])
    big_records = sum(int(c) for c in alignport.baminfo(big)[1])
    # Warm: the files in the page cache, the plug-ins loaded in every worker.
    parallel.baminfo(bams)
    parallel.starts(big, big_bai)

    ours, theirs = side_by_side(a.repeat, lambda: parallel.baminfo(bams),
                                lambda: [alignport.baminfo(b) for b in bams])
    report("baminfo", ours, theirs, 0.6, f"files={len(bams)} records_per_file={records}")

    ours, theirs = side_by_side(
        a.repeat, lambda: parallel.starts(big, big_bai),
        lambda: {n: alignport.getstartsinref(big, big_bai, n) for n in names})
    report("starts", ours, theirs, 0.7, f"references={len(names)} records={big_records}")

    one = min(timed(lambda: parallel.map(abs, [0])) for _ in range(a.rounds))
    many = min(timed(lambda: parallel.map(abs, range(1000))) for _ in range(3))
    print(f"bench=python_parallel case=round_trip one_task_ms={one * 1e3:.2f} "
          f"per_task_ms={many:.3f} workers={workers}", flush=True)
    del helixo
    return 0


if __name__ == "__main__":
    sys.exit(main())
