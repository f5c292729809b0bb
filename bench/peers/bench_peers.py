#!/usr/bin/python3
"""alignport against the tools a user would pick instead, side by side in one run.

Makes its own seeded data with tools/mksample (three references; READS alignments on each),
then times each helixo service through hxrun and its peer (samtools 1.x, a pysam loop) on the
same files, alternating the two (and which goes first), best of REPEAT. Prints one line per result:

  bench=peers case=NAME helixo_s=T peer_s=T ratio=R limit=L cpu_ratio=R median_ratio=R
    (times are the best wall seconds; cpu_ratio compares the best processor time of the child
    processes, median_ratio the median wall times)

With --against OTHER_BUILD_DIR the peer of each case is the same helixo call made through the
other build's hxrun (for a before-and-after comparison of one change; limit 1.03).

Usage: bench/peers/bench_peers.py BUILD_DIR WORK_DIR [--reads N] [--repeat K] [--only CASE,...]
                                  [--against OTHER_BUILD_DIR]
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time


def run(cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, **kw)


def timed(cmd, setup=None):
    if setup:
        setup()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    run(cmd)
    wall = time.perf_counter() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


PYSAM_STARTS = r"""
import array, sys, pysam
f = pysam.AlignmentFile(sys.argv[1])
s, e, g = array.array('I'), array.array('I'), array.array('H')
for a in f.fetch(sys.argv[2]):
    s.append(a.reference_start + 1); e.append(a.reference_end or 0); g.append(a.flag)
print(len(s))
"""


def main():
    p = argparse.ArgumentParser()
    p.add_argument("build")
    p.add_argument("work")
    p.add_argument("--reads", type=int, default=2_000_000, help="alignments per reference")
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--only", default="")
    p.add_argument("--against", default="", help="compare with another helixo build")
    a = p.parse_args()
    hx = os.path.join(a.build, "bin", "hxrun")
    mksample = os.path.join(a.build, "bin", "mksample")
    os.makedirs(a.work, exist_ok=True)
    sam = os.path.join(a.work, "sample.sam")
    bam = os.path.join(a.work, "sample.bam")
    marker = os.path.join(a.work, "reads.txt")
    if not (os.path.exists(marker) and open(marker).read() == str(a.reads)):
        run([mksample, a.work, "11", str(a.reads)])
        open(marker, "w").write(str(a.reads))
    out = lambda name: os.path.join(a.work, name)

    def rm(*names):
        def f():
            for n in names:
                if os.path.exists(out(n)):
                    os.remove(out(n))
        return f

    cases = [
        ("baminfo_vs_view_c", 1.0,
         [hx, "--nout", "2", "alignport", "baminfo", bam], None,
         ["samtools", "view", "-c", bam], None),
        ("getstartsinref_vs_pysam", 0.6,
         [hx, "--nout", "3", "alignport", "getstartsinref", bam, bam + ".bai", "double:0"], None,
         ["/usr/bin/python3", "-c", PYSAM_STARTS, bam, "chr1"], None),
        ("bam2bam_vs_view_b", 1.1,
         [hx, "alignport", "bam2bam", bam, "bam", out("h.bam"), "bam", "uint32:[]"], rm("h.bam"),
         ["samtools", "view", "-b", "-o", out("p.bam"), bam], rm("p.bam")),
        ("bam2sam_vs_view", 1.1,
         [hx, "alignport", "bam2bam", bam, "bam", out("h.sam"), "sam", "uint32:[]"], rm("h.sam"),
         ["samtools", "view", "-o", out("p.sam"), bam], rm("p.sam")),
        ("sam2bam_vs_view_b", 1.1,
         [hx, "alignport", "sam2bam", sam, out("hs.bam")], rm("hs.bam"),
         ["samtools", "view", "-b", "-o", out("ps.bam"), sam], rm("ps.bam")),
        ("indexbamfile_vs_index", 1.0,
         [hx, "alignport", "indexbamfile", bam, out("h.bai")], rm("h.bai"),
         ["samtools", "index", "-o", out("p.bai"), bam], rm("p.bai")),
        ("bamsort_vs_sort", 1.2,
         [hx, "alignport", "bamsort", bam, out("hsorted")], rm("hsorted.bam"),
         ["samtools", "sort", "-m", "500M", "-o", out("psorted.bam"), "-T", out("ptmp"), bam],
         rm("psorted.bam")),
    ]
    if a.against:
        other = os.path.join(a.against, "bin", "hxrun")

        def other_case(name, ours, our_setup):
            theirs = [other if x == hx else x.replace(out("h"), out("o")) for x in ours]
            made = [os.path.basename(x) for x in theirs if x.startswith(out("o"))]
            setup = rm(*made, *[m + ".bam" for m in made]) if made else None
            return (name.split("_vs_")[0] + "_vs_other_build", 1.03, ours, our_setup, theirs, setup)

        cases = [other_case(name, ours, our_setup) for name, _, ours, our_setup, _, _ in cases]
    only = set(filter(None, a.only.split(",")))
    for name, limit, ours, our_setup, peer, peer_setup in cases:
        if only and name not in only:
            continue
        walls = {"h": [], "p": []}
        cpus = {"h": [], "p": []}
        runs = (("h", ours, our_setup), ("p", peer, peer_setup))
        for k in range(a.repeat):
            # Alternate which of the two goes first, so neither always runs on a colder machine.
            for key, cmd, setup in (runs if k % 2 == 0 else runs[::-1]):
                w, c = timed(cmd, setup)
                walls[key].append(w)
                cpus[key].append(c)
        hw, pw = min(walls["h"]), min(walls["p"])
        hc, pc = min(cpus["h"]), min(cpus["p"])
        hm, pm = statistics.median(walls["h"]), statistics.median(walls["p"])
        print(f"bench=peers case={name} helixo_s={hw:.3f} peer_s={pw:.3f} ratio={hw / pw:.3f} "
              f"limit={limit} cpu_ratio={hc / pc:.3f} median_ratio={hm / pm:.3f}", flush=True)

if __name__ == "__main__":
    sys.exit(main())
