#!/usr/bin/python3
"""A short helixo session on the bundled sample: the starts and some features of a reference
into numpy, then an index of the sample's reads with a traitmark column read back through
FlatIndex.

Usage: PYTHONPATH=build/python /usr/bin/python3 python/examples/sample_session.py SAMPLE_DIR WORK_DIR
"""
import pathlib
import sys

import numpy as np

import helixo


def main(sample: pathlib.Path, work: pathlib.Path) -> None:
    """Runs the session on sample/sample.bam, writing its files into work."""
    alignments = helixo.Alignments(sample / "sample.bam")
    print("references:", alignments.references, "lengths:", alignments.lengths)

    starts, ends, flags = alignments.starts("chrM")
    print(f"chrM holds {len(starts)} alignments; the first start at {starts[0]}, "
          f"the last end at {ends.max()}; {np.count_nonzero(flags & 16)} on the reverse strand")
    chosen = alignments.features("chrM", [1, 2, len(starts)], ["Header", "Position", "Signature"])
    for name, values in chosen.items():
        print(f"{name:>9}: {values}")

    reads = work / "reads.fq"
    index = work / "reads.fq.idx"
    helixo.alignport.bam2bam(sample / "sample.bam", "bam", reads, "fastq")
    entries, lines = helixo.flatmark.index("fastq", reads, index)
    print(f"{reads.name}: {entries} reads in {lines} lines indexed")
    helixo.traitmark.append("fastq", "Length", reads, index)
    with helixo.FlatIndex(index, reads) as reads_index:
        lengths = reads_index.columns("fastq", ["Length"])["Length"]
        print("read lengths: min", lengths.min(), "max", lengths.max(), "first", lengths[:5])
        name = reads_index.keys[2]
        print(f"read {name!r} is entry {reads_index.find(name)}:")
        print(reads_index.entry(2).decode(), end="")


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
