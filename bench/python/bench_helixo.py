#!/usr/bin/python3
"""helixo from Python against hxrun and the Python peers, side by side in one run.

Makes its own seeded data (tools/mksample: three references with READS alignments each; a FASTQ
of RECORDS reads and the same reads as FASTA), then, alternating the contenders, best and median
of REPEAT runs, each in a fresh child process (so every run starts from the same cold state):

  getstartsinref   helixo.alignport.getstartsinref of reference 0 (the call, in-process) against
                   `hxrun --nout 3` of the same call (the whole process) and against a pysam loop
                   collecting reference_start + 1, reference_end and flag into numpy arrays;
                   plus the peak memory of the helixo child beyond an idle interpreter that has
                   imported numpy and helixo, against the bytes of the three outputs.
  features         Alignments.features of SAMPLE random alignment numbers of reference 0
                   (Flag, Position, MappingQuality, Signature, Sequence, Quality, Header), the
                   starts already cached (and, reported beside it, with the starts computed in the
                   same run), against one pysam fetch over the span of the chosen alignments
                   collecting the same values.
  entry            FlatIndex.entry(i) of SAMPLE random i of the FASTQ against
                   Bio.SeqIO.index(...).get_raw and pyfaidx.Fasta random access to the same
                   records (the index builds are not timed; the faster peer is the one compared).

One line per result:
  bench=python case=NAME helixo_s=T peer=NAME peer_s=T ratio=R limit=L median_ratio=R
  bench=python case=getstartsinref_memory extra_mb=M outputs_mb=O limit_mb=O+30

Usage: bench/python/bench_helixo.py BUILD_DIR WORK_DIR [--reads N] [--records N] [--sample N]
                                    [--repeat K] [--only CASE,...]
"""
from __future__ import annotations

import argparse
import array
import os
import random
import statistics
import subprocess
import sys
import time

HELIXO_STARTS = r"""
import sys, time, resource
import numpy, helixo
bam, bai = sys.argv[1], sys.argv[2]
t0 = time.perf_counter()
starts, ends, flags = helixo.alignport.getstartsinref(bam, bai, 0)
seconds = time.perf_counter() - t0
print(seconds, len(starts), starts.nbytes + ends.nbytes + flags.nbytes)
"""

IDLE = r"""
import numpy, helixo
print(0, 0, 0)
"""

PYSAM_STARTS = r"""
import sys, time
import numpy, pysam
t0 = time.perf_counter()
f = pysam.AlignmentFile(sys.argv[1], index_filename=sys.argv[2])
name = f.get_reference_name(0)
count = f.count(name)
s = numpy.empty(count, numpy.uint32)
e = numpy.empty(count, numpy.uint32)
g = numpy.empty(count, numpy.uint16)
k = 0
for a in f.fetch(name):
    s[k] = a.reference_start + 1
    e[k] = a.reference_end or 0
    g[k] = a.flag
    k += 1
seconds = time.perf_counter() - t0
print(seconds, k, 0)
"""

FEATURE_NAMES = ["Flag", "Position", "MappingQuality", "Signature", "Sequence", "Quality", "Header"]

HELIXO_FEATURES = r"""
import sys, time
import numpy, helixo
bam, bai, numbers_file, cached = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4] == "1"
numbers = numpy.fromfile(numbers_file, numpy.uint32)
names = %r
t0 = time.perf_counter()
al = helixo.Alignments(bam, bai)
if cached:
    al.starts(0)
    t0 = time.perf_counter()
out = al.features(0, numbers, names)
seconds = time.perf_counter() - t0
print(seconds, len(out["Flag"]), 0)
""" % FEATURE_NAMES

PYSAM_FEATURES = r"""
import sys, time
import numpy, pysam
bam, bai, numbers_file = sys.argv[1], sys.argv[2], sys.argv[3]
numbers = numpy.fromfile(numbers_file, numpy.uint32)
t0 = time.perf_counter()
wanted = set(numbers.tolist())
last = int(numbers.max())
f = pysam.AlignmentFile(bam, index_filename=bai)
name = f.get_reference_name(0)
flag, pos, mapq, cigar, seq, qual, qname = [], [], [], [], [], [], []
k = 0
for a in f.fetch(name):
    k += 1
    if k in wanted:
        flag.append(a.flag); pos.append(a.reference_start + 1); mapq.append(a.mapping_quality)
        cigar.append(a.cigarstring); seq.append(a.query_sequence); qual.append(a.qual)
        qname.append(a.query_name)
    if k == last:
        break
by_number = {n: i for i, n in enumerate(sorted(wanted))}
order = [by_number[n] for n in numbers.tolist()]
flag = numpy.array(flag, numpy.uint16)[order]; pos = numpy.array(pos, numpy.uint32)[order]
mapq = numpy.array(mapq, numpy.uint8)[order]
cigar = [cigar[i] for i in order]; seq = [seq[i] for i in order]
qual = [qual[i] for i in order]; qname = [qname[i] for i in order]
seconds = time.perf_counter() - t0
print(seconds, len(flag), 0)
"""

HELIXO_ENTRY = r"""
import sys, time
import numpy, helixo
index, source, picks_file = sys.argv[1], sys.argv[2], sys.argv[3]
picks = numpy.fromfile(picks_file, numpy.uint32).tolist()
ix = helixo.FlatIndex(index, source)
t0 = time.perf_counter()
total = 0
for i in picks:
    total += len(ix.entry(i))
seconds = time.perf_counter() - t0
print(seconds, len(picks), total)
"""

SEQIO_ENTRY = r"""
import sys, time
import numpy
from Bio import SeqIO
source, picks_file = sys.argv[1], sys.argv[2]
picks = numpy.fromfile(picks_file, numpy.uint32).tolist()
db = SeqIO.index(source, "fastq")
names = ["r%d" % i for i in picks]
t0 = time.perf_counter()
total = 0
for n in names:
    total += len(db.get_raw(n))
seconds = time.perf_counter() - t0
print(seconds, len(picks), total)
"""

PYFAIDX_ENTRY = r"""
import sys, time
import numpy, pyfaidx
source, picks_file = sys.argv[1], sys.argv[2]
picks = numpy.fromfile(picks_file, numpy.uint32).tolist()
fa = pyfaidx.Fasta(source, as_raw=True, sequence_always_upper=False)
names = ["r%d" % i for i in picks]
t0 = time.perf_counter()
total = 0
for n in names:
    total += len(fa[n][:])
seconds = time.perf_counter() - t0
print(seconds, len(picks), total)
"""


def child(code: str, args: list[str], env: dict) -> tuple[float, int, int, float]:
    """Runs code in a fresh /usr/bin/python3: its own timing, count and extra figure as it
    prints them, and its peak resident memory in MB."""
    proc = subprocess.Popen(["/usr/bin/python3", "-c", code] + args, stdout=subprocess.PIPE,
                            env=env)
    out = proc.stdout.read()
    proc.stdout.close()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise SystemExit(f"a child failed ({proc.returncode}): {args}")
    seconds, count, extra = out.split()
    return float(seconds), int(count), int(extra), usage.ru_maxrss / 1024


def process_seconds(command: list[str]) -> float:
    t0 = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - t0


def write_reads(fastq: str, fasta: str, records: int, seed: int) -> None:
    """A FASTQ of records reads of 60 to 140 bases named r0, r1, ... and the same as FASTA."""
    rng = random.Random(seed)
    bases = "ACGT"
    with open(fastq, "w") as fq, open(fasta, "w") as fa:
        chunk_q, chunk_a = [], []
        pool = "".join(rng.choice(bases) for _ in range(1 << 16))
        quals = "".join(chr(33 + rng.randrange(41)) for _ in range(1 << 16))
        for i in range(records):
            n = 60 + rng.randrange(81)
            at = rng.randrange((1 << 16) - n)
            seq = pool[at:at + n]
            chunk_q.append(f"@r{i}\n{seq}\n+\n{quals[at:at + n]}\n")
            chunk_a.append(f">r{i}\n{seq}\n")
            if len(chunk_q) == 65536:
                fq.write("".join(chunk_q)); fa.write("".join(chunk_a))
                chunk_q.clear(); chunk_a.clear()
        fq.write("".join(chunk_q)); fa.write("".join(chunk_a))


def report(case: str, ours: list[float], peer_name: str, theirs: list[float], limit: float) -> None:
    best, peer_best = min(ours), min(theirs)
    print(f"bench=python case={case} helixo_s={best:.4f} peer={peer_name} peer_s={peer_best:.4f} "
          f"ratio={best / peer_best:.3f} limit={limit} "
          f"median_ratio={statistics.median(ours) / statistics.median(theirs):.3f}", flush=True)


def main() -> int:
    p = argparse.ArgumentParser()
    p.add_argument("build")
    p.add_argument("work")
    p.add_argument("--reads", type=int, default=2_000_000, help="alignments per reference")
    p.add_argument("--records", type=int, default=4_000_000, help="FASTQ records")
    p.add_argument("--sample", type=int, default=100_000, help="random alignments / entries")
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--only", default="")
    a = p.parse_args()
    only = set(filter(None, a.only.split(",")))
    build = os.path.abspath(a.build)
    hx = os.path.join(build, "bin", "hxrun")
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    os.makedirs(a.work, exist_ok=True)
    work = lambda name: os.path.join(a.work, name)
    bam, bai = work("sample.bam"), work("sample.bam.bai")
    marker = work("reads.txt")
    if not (os.path.exists(marker) and open(marker).read() == str(a.reads)):
        subprocess.run([os.path.join(build, "bin", "mksample"), a.work, "11", str(a.reads)],
                       check=True, stdout=subprocess.DEVNULL)
        open(marker, "w").write(str(a.reads))
    rng = random.Random(5)

    if not only or "getstartsinref" in only:
        ours, hxrun_s, pysam_s, peaks = [], [], [], []
        for k in range(a.repeat):
            steps = [
                ("h", lambda: child(HELIXO_STARTS, [bam, bai], env)),
                ("x", lambda: (process_seconds([hx, "--nout", "3", "alignport", "getstartsinref",
                                                bam, bai, "double:0"]), 0, 0, 0.0)),
                ("p", lambda: child(PYSAM_STARTS, [bam, bai], env)),
            ]
            for key, step in (steps if k % 2 == 0 else steps[::-1]):
                seconds, count, extra, peak = step()
                {"h": ours, "x": hxrun_s, "p": pysam_s}[key].append(seconds)
                if key == "h":
                    peaks.append((peak, extra))
        report("getstartsinref", ours, "hxrun", hxrun_s, 1.03)
        report("getstartsinref", ours, "pysam", pysam_s, 0.6)
        idle = min(child(IDLE, [], env)[3] for _ in range(3))
        peak, output_bytes = min(peaks)
        outputs_mb = output_bytes / 2**20
        print(f"bench=python case=getstartsinref_memory extra_mb={peak - idle:.1f} "
              f"outputs_mb={outputs_mb:.1f} limit_mb={outputs_mb + 30:.1f} idle_mb={idle:.1f}",
              flush=True)

    if not only or "features" in only:
        first = subprocess.run(["samtools", "idxstats", bam], check=True, capture_output=True,
                               text=True).stdout.split("\n")[0].split("\t")
        count = int(first[2]) + int(first[3])  # the reference's placed records, mapped or not
        numbers = rng.sample(range(1, count + 1), min(a.sample, count))
        array.array("I", numbers).tofile(open(work("numbers.u32"), "wb"))
        ours, with_starts, theirs = [], [], []
        for k in range(a.repeat):
            steps = [("h", HELIXO_FEATURES, [bam, bai, work("numbers.u32"), "1"]),
                     ("s", HELIXO_FEATURES, [bam, bai, work("numbers.u32"), "0"]),
                     ("p", PYSAM_FEATURES, [bam, bai, work("numbers.u32")])]
            for key, code, args in (steps if k % 2 == 0 else steps[::-1]):
                {"h": ours, "s": with_starts, "p": theirs}[key].append(child(code, args, env)[0])
        report("features", ours, "pysam_fetch", theirs, 0.7)
        report("features_with_starts", with_starts, "pysam_fetch", theirs, 0.7)

    if not only or "entry" in only:
        fastq, fasta, index = work("reads.fastq"), work("reads.fasta"), work("reads.fastq.hxi")
        rmarker = work("records.txt")
        if not (os.path.exists(rmarker) and open(rmarker).read() == str(a.records)):
            write_reads(fastq, fasta, a.records, 3)
            for stale in (fasta + ".fai",):
                if os.path.exists(stale):
                    os.remove(stale)
            open(rmarker, "w").write(str(a.records))
        subprocess.run(["/usr/bin/python3", "-c", "import sys, helixo; "
                        "helixo.flatmark.index('fastq', sys.argv[1], sys.argv[2])", fastq, index],
                       check=True, env=env)
        picks = [rng.randrange(a.records) for _ in range(a.sample)]
        array.array("I", picks).tofile(open(work("picks.u32"), "wb"))
        ours, seqio, faidx = [], [], []
        for k in range(a.repeat):
            steps = [("h", HELIXO_ENTRY, [index, fastq, work("picks.u32")]),
                     ("q", SEQIO_ENTRY, [fastq, work("picks.u32")]),
                     ("f", PYFAIDX_ENTRY, [fasta, work("picks.u32")])]
            for key, code, args in (steps if k % 2 == 0 else steps[::-1]):
                {"h": ours, "q": seqio, "f": faidx}[key].append(child(code, args, env)[0])
        report("entry", ours, "Bio.SeqIO.index", seqio, 0.5)
        report("entry", ours, "pyfaidx", faidx, 0.5)
    return 0


if __name__ == "__main__":
    sys.exit(main())
