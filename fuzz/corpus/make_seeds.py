#!/usr/bin/env python3
"""Writes the seed inputs of the text-driven fuzz targets into the folders beside this script.

The seeds are small valid inputs, one per shape the targets know (see the comment at the top of
each target for the meaning of the option bytes). Run it again after changing a target's input
layout; its output is committed. The binary seeds of bam_checks and bai_index are made at
build time instead (fuzz/seeds/)."""
import io
import os
import shutil
import struct

import numpy

HERE = os.path.dirname(os.path.abspath(__file__))

SAM = (
    "@HD\tVN:1.0\tSO:coordinate\n@SQ\tSN:chr1\tLN:1000\n@SQ\tSN:chr2\tLN:500\n"
    "p1\t99\tchr1\t100\t60\t4M1I3M\t=\t200\t108\tACGTACGT\tIIIIIIII\n"
    "p2\t67\tchr1\t150\t30\t2S6M5D2N\tchr2\t10\t0\tTTGGCCAA\t*\tNM:i:1\n"
    "p1\t147\tchr1\t200\t60\t8M\t=\t100\t-108\tACGTACGT\tIIIIIIII\n"
    "p2\t131\tchr2\t10\t30\t3H4M1P\tchr1\t150\t0\tGGGG\tIIII\n"
    "u1\t4\t*\t0\t0\t*\t*\t0\t0\tNNN\t*\n"
)
FASTA = ">a desc\nACGT\nAC\n>b\nGG\n\n>c\n"
FASTQ = "@r1\nACGT\n+\nIIII\n@r2 x\nAC\n+r2\nII\n"
TABLE = "#c\nk1\tv\nk2\tv\n"
MRTAB = "@h\na\t1\na\t2\nb\t3\n"
FLAT = "ID a\nxx\n//\nID b\n//\n"


def crlf(text):
    return text.replace("\n", "\r\n")


def flatmark_seeds():
    # (name, byte 0, byte 1, byte 2, text); byte 2 of 0x20 or more raises no stop request.
    keys, consecutive = 0x08, 0x04
    return [
        ("fasta-keys", consecutive | keys, 0x00, 0x20, FASTA),
        ("fastq-keys-wide", keys | 1, 0x00, 0x20, FASTQ),
        ("table-comment", consecutive, 0x01, 0x20, TABLE),
        ("table-key-field-1", keys | 0x10, 0x01, 0x20, TABLE),
        ("mrtab-header-keys", keys, 0x02, 0x20, MRTAB),
        ("mrtab-space-delimiter", keys | consecutive, 0x08, 0x20, MRTAB.replace("\t", " ")),
        ("flat-key-token", keys | consecutive | 0x40, 0x00, 0x20, FLAT),
        ("flat-crlf-paired", keys | 0x40, 0x00, 0x20, crlf(FLAT)),
        ("fasta-stop-at-poll-3", consecutive | keys, 0x00, 0x03, FASTA),
        ("table-empty-field-delimiter", keys, 0x18, 0x20, TABLE),
        # Keys around the 255-character limit of the key buffer.
        ("fasta-key-of-255", consecutive | keys, 0x00, 0x20, ">" + "k" * 255 + "\nAC\n"),
        ("mrtab-key-of-256", keys, 0x00, 0x20, "k" * 256 + "\t1\n"),
    ]


def traitmark_seeds():
    raw = struct.pack("<QQ", 0, 3)
    return [
        ("sam", b"\x00\x00", SAM),
        ("sam-wide-feature-uint8", b"\x01\x00", SAM),
        ("sam-every-line", b"\x00\x01", SAM),
        ("sam-shifted", b"\x00\x06", SAM),
        ("sam-stop-at-poll-2", b"\x20\x00", SAM),
        ("fasta", b"\x00\x00", FASTA),
        ("fasta-crlf-wide", b"\x01\x00", crlf(FASTA)),
        ("fastq", b"\x00\x00", FASTQ),
        ("raw-offsets", b"\x01\x03\x02" + raw, FASTQ),
        ("one-more-than-offsets", b"\x02\x00", FASTA),
    ]


def npy(array):
    out = io.BytesIO()
    numpy.save(out, array, allow_pickle=False)
    return out.getvalue()


def npy_v2(dtype, values):
    header = ("{'descr': '%s', 'fortran_order': False, 'shape': (%d,), }" % (dtype, len(values)))
    header += " " * (63 - (12 + len(header)) % 64) + "\n"
    data = numpy.array(values, dtype=dtype).tobytes()
    return b"\x93NUMPY\x02\x00" + struct.pack("<I", len(header)) + header.encode() + data


def literal_seeds():
    words = [
        ("text", "chr1:100-200"),
        ("str", "str:uint8:5"),
        ("matrix", "uint32:[1,2,3,4]/2x2"),
        ("column", "int16:[1;-2;40000]"),
        ("empty-shaped", "uint32:[]/0x1"),
        ("doubles", "double:[nan,inf,-inf,-0.5,1e300]"),
        ("logical", "logical:[true,false,1]"),
        ("int64-max", "int64:9223372036854775807"),
        ("complex", "complex:single:[1,2]/1x2"),
        ("cell", "cell:{a,int8:[1;2],cell:{},str:,{x}}"),
        ("three-dims", "uint8:[1,2,3,4,5,6,7,8]/2x2x2"),
    ]
    seeds = [(name, b"\x00" + word.encode()) for name, word in words]
    files = [
        ("raw-uint16", "uint16@F", struct.pack("<3H", 1, 2, 65535)),
        ("npy-int32", "int32@N", npy(numpy.array([1, -2, 3], dtype="<i4"))),
        ("npy-in-cell", "cell:{double@N,x}", npy(numpy.array([[1.5, 2.5]], dtype="<f8"))),
        ("npy-logical", "logical@N", npy(numpy.array([True, False]))),
        ("npy-v2-uint64", "uint64@N", npy_v2("<u8", [1, 2**64 - 1])),
        ("complex-file", "complex:double@F", struct.pack("<2d", 1.0, -2.0)),
    ]
    seeds += [(name, b"\x01" + word.encode() + b"\n" + data) for name, word, data in files]
    return seeds


def sam_line_seeds():
    arrays = "\t".join("B%s:B:%s,%s" % (t, t, v)
                        for t, v in [("c", "-1,2"), ("C", "0,255"), ("s", "-300,5"), ("S", "65535"),
                                     ("i", "-2147483648,7"), ("I", "4294967295"), ("f", "1.5,-2e3")])
    tags = "NM:i:2\tXA:A:z\tXZ:Z:some text\tXH:H:1AE3\tXF:f:-0.25\tXI:i:-70000"
    return [
        ("paired", SAM),
        ("no-header", SAM[SAM.index("p1"):]),
        ("crlf", crlf(SAM)),
        ("arrays-of-every-subtype",
         "@SQ\tSN:chr1\tLN:1000\nr\t0\tchr1\t1\t0\t2M\t*\t0\t0\tAC\tII\t" + arrays + "\n"),
        ("tags-of-every-type",
         "@SQ\tSN:chr1\tLN:1000\nr\t0\tchr1\t1\t0\t2M\t*\t0\t0\tAC\t*\t" + tags + "\n"),
        ("qname-of-254", "q" * 254 + "\t4\t*\t0\t0\t*\t*\t0\t0\tA\tI\n"),
        ("header-lines",
         "@HD\tVN:1.6\tSO:unsorted\n@SQ\tSN:a\tLN:2147483647\n@RG\tID:g\tSM:s\n"
         "@PG\tID:p\tPN:x\n@CO\tfree text\n"
         "r\t16\ta\t2147483647\t255\t1M\t=\t1\t0\tN\t!\tRG:Z:g\n"),
        ("blank-lines-and-separators", "@SQ\tSN:c\tLN:5\n\n\t\nr\t0\tc\t1\t0\t1M\t*\t0\t0\tA\t*\n\n"),
    ]


def write(target, seeds):
    folder = os.path.join(HERE, target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds:
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


def main():
    write("flatmark_scan",
          [(n, bytes([a, b, c]) + t.encode()) for n, a, b, c, t in flatmark_seeds()])
    write("traitmark_fields", [(n, o + t.encode()) for n, o, t in traitmark_seeds()])
    write("hxrun_literal", literal_seeds())
    write("sam_line", [(n, t.encode()) for n, t in sam_line_seeds()])


if __name__ == "__main__":
    main()
