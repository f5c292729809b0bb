"""The nineteen services of the alignport plug-in, one function each.

Reference and header queries:
    getheader, getnumberofreferences, getreferencestring, validatereferencestring
Alignment starts and features by alignment number:
    getstartsinref, getfeatureinrefbyindex, getfeaturesinrefbyindex
SAM lines of a region or of the unplaced reads, appended to a text file:
    writesambyregion, writesamunaligned
Conversion, index building and sorting:
    bam2bam, sam2bam, indexbamfile, bamsort
File summaries:
    baminfo, saminfo
Diagnostic dumps (text on sys.stdout):
    dumpinfobyregion, dumpinfobyindex, dumpinfoinrefbyindex, dumpstartsinfo

Reference numbers are 0-based, alignment and record numbers 1-based, positions returned
1-based. Services that read an indexed BAM file take the BAM file and its BAI index (``bai``:
the index file's name, or the BAM file's name when its index sits beside it as NAME.bai).

Every service can raise ``helixo.HelixoError`` with these identifiers besides its own:
``helixo:alignport:InvalidFileName`` (a file name too long: 256 characters or more for
the BAM and BAI names of the services that work on an open file, 512 for the others),
``helixo:alignport:CannotOpenInFile`` (the BAM file cannot be opened) and, for the indexed
services, ``helixo:alignport:BAMIndexMissing``. Long walks poll for the user's stop and then
raise ``helixo.Interrupted`` (``helixo:alignport:IterruptedByUser``). Wrong Python types raise
``TypeError`` naming the parameter before any plug-in runs.
"""

from __future__ import annotations

from typing import Any, Optional, Sequence, Tuple, Union

import numpy as np

from . import _arguments as arg
from .calls import call

__all__ = [
    "FEATURES",
    "bam2bam",
    "baminfo",
    "bamsort",
    "dumpinfobyindex",
    "dumpinfobyregion",
    "dumpinfoinrefbyindex",
    "dumpstartsinfo",
    "getfeatureinrefbyindex",
    "getfeaturesinrefbyindex",
    "getheader",
    "getnumberofreferences",
    "getreferencestring",
    "getstartsinref",
    "indexbamfile",
    "sam2bam",
    "saminfo",
    "validatereferencestring",
    "writesambyregion",
    "writesamunaligned",
]

#: The feature names of the feature services, in the order of their table, with the class
#: of each output: numeric columns (1-d arrays) or texts (lists of str).
FEATURES: Tuple[str, ...] = (
    "Flag", "Position", "MappingQuality", "MatePosition", "MateIndex", "QueryLength",
    "EndPosition", "Signature", "Sequence", "Header", "Quality",
)
_TEXT_FEATURES = frozenset({"Signature", "Sequence", "Header", "Quality"})

Path = arg.PathArg


def _run(service: str, inputs: Sequence[Any], nout: int, vectors: Sequence[bool]) -> Any:
    """Calls one service (its name first) and shapes the outputs."""
    outputs = call("alignport", service, *inputs, nout=nout)
    return arg.shape_outputs(outputs, vectors)


def _nout(func: str, nout: Any) -> int:
    return arg.count(func, "nout", nout)


def _reference_number(bam: str, ref: Union[float, str]) -> float:
    """A reference named by text as its number in the header (-1 when there is none)."""
    if not isinstance(ref, str):
        return ref
    _, names = call("alignport", "getheader", bam, nout=2)
    return float(names.index(ref)) if ref in names else -1.0


def getheader(bam: Path, *, nout: int = 3) -> Any:
    """The header of a BAM file: ``(text, names, lengths)``.

    Args:
        bam: the BAM file (str or os.PathLike).
        nout: how many of the three outputs to return.
    Returns:
        text (str, the header text), names (list of str, the references in header order),
        lengths (1-d uint32 array).
    Raises:
        HelixoError: ``helixo:alignport:InvalidFileName`` (name of 512 characters or more),
        ``helixo:alignport:CannotOpenInFile``.
    """
    f = "getheader"
    inputs = [arg.path(f, "bam", bam)]
    return _run(f, inputs, _nout(f, nout), (False, False, True))


def getnumberofreferences(bam: Path, *, nout: int = 1) -> Optional[np.int32]:
    """The number of references in the header of a BAM file, as a ``numpy.int32``.

    Args:
        bam: the BAM file.
        nout: 1 (default) or 0.
    Raises:
        HelixoError: ``helixo:alignport:InvalidFileName``, ``helixo:alignport:CannotOpenInFile``.
    """
    f = "getnumberofreferences"
    inputs = [arg.path(f, "bam", bam)]
    return _run(f, inputs, _nout(f, nout), (False,))


def getreferencestring(bam: Path, ref: int, *, nout: int = 1) -> Optional[str]:
    """The name of reference number ``ref`` (0-based) of a BAM file.

    Args:
        bam: the BAM file.
        ref: the 0-based reference number (int).
        nout: 1 (default) or 0.
    Raises:
        HelixoError: ``helixo:alignport:getreferencestring:InvalidReference`` (no such
        reference), ``helixo:alignport:InvalidFileName``, ``helixo:alignport:CannotOpenInFile``.
    """
    f = "getreferencestring"
    inputs = [arg.path(f, "bam", bam), arg.number(f, "ref", ref)]
    return _run(f, inputs, _nout(f, nout), (False,))


def validatereferencestring(bam: Path, region: str, *, nout: int = 1) -> Optional[np.int32]:
    """The 0-based number of the reference a region text names (``numpy.int32``; -1: none).

    Args:
        bam: the BAM file.
        region: a reference name or a region such as ``"chr1:100-200"``.
        nout: 1 (default) or 0.
    Raises:
        HelixoError: ``helixo:alignport:InvalidRefName`` (a region of 256 characters or more),
        ``helixo:alignport:InvalidFileName``, ``helixo:alignport:CannotOpenInFile``.
    """
    f = "validatereferencestring"
    inputs = [arg.path(f, "bam", bam), arg.text(f, "region", region)]
    return _run(f, inputs, _nout(f, nout), (False,))


def getstartsinref(bam: Path, bai: Path, ref: Union[int, str], *, nout: int = 3) -> Any:
    """Where the alignments of one reference begin and end: ``(starts, ends, flags)``.

    The alignments are in alignment-number order (the order of a whole-reference fetch).

    Args:
        bam: the BAM file; bai: its BAI index.
        ref: the reference, by 0-based number (int) or by name (str; a name the header does
            not have is an invalid reference).
        nout: how many of the three outputs to return (0: the reference is only walked).
    Returns:
        starts (1-based first positions, uint32), ends (1-based last reference positions,
        uint32), flags (uint16), each a 1-d array.
    Raises:
        HelixoError: ``helixo:alignport:getstartsinref:InvalidReference``,
        ``helixo:alignport:CorruptedBAMFile``, ``helixo:alignport:BAMIndexMissing``,
        ``helixo:alignport:InvalidFileName``, ``helixo:alignport:CannotOpenInFile``;
        Interrupted: ``helixo:alignport:IterruptedByUser``.
    """
    f = "getstartsinref"
    bam_name, bai_name = arg.path(f, "bam", bam), arg.path(f, "bai", bai)
    ref = arg.reference(f, "ref", ref)
    count = _nout(f, nout)
    inputs = [bam_name, bai_name, _reference_number(bam_name, ref)]
    return _run(f, inputs, count, (True, True, True))


def getfeatureinrefbyindex(bam: Path, bai: Path, feature: str, ref: Union[int, str],
                           numbers: Any, starts: Any, *, nout: int = 1) -> Any:
    """One feature of chosen alignments of one reference.

    Args:
        bam: the BAM file; bai: its BAI index.
        feature: one of ``FEATURES`` ("Flag", "Position", "MappingQuality", "MatePosition",
            "MateIndex", "QueryLength", "EndPosition", "Signature", "Sequence", "Header",
            "Quality").
        ref: the reference, by 0-based number or by name.
        numbers: the wanted 1-based alignment numbers, increasing (sent as uint32; any
            integer array or list is converted exactly, else ValueError).
        starts: the starts of ``getstartsinref`` less one (int32 or uint32; other integer
            arrays are converted exactly, else ValueError).
        nout: 1 (default) or 0 (the inputs are checked, nothing is fetched).
    Returns:
        A 1-d array (Flag, QueryLength: uint16; MappingQuality: uint8; the others uint32) or,
        for Signature, Sequence, Header and Quality, a list of str; one element per number.
    Raises:
        HelixoError: ``helixo:alignport:getfeatureinrefbyindex:`` + ``InvalidFeatureType``,
        ``UnknownFeatureType``, ``InvalidReference``, ``InvalidIndexing`` (empty numbers,
        numbers outside 1..len(starts)), ``ValueOutOfRange`` (a QueryLength above 65535);
        ``helixo:alignport:CorruptedBAMFile``, ``helixo:alignport:BAMIndexMissing``,
        ``helixo:alignport:InvalidFileName``, ``helixo:alignport:CannotOpenInFile``;
        Interrupted: ``helixo:alignport:IterruptedByUser``.
    """
    f = "getfeatureinrefbyindex"
    bam_name, bai_name = arg.path(f, "bam", bam), arg.path(f, "bai", bai)
    name = arg.text(f, "feature", feature)
    ref = arg.reference(f, "ref", ref)
    wanted = arg.ordinals(f, "numbers", numbers)
    begins = arg.starts(f, "starts", starts)
    count = _nout(f, nout)
    inputs = [bam_name, bai_name, name, _reference_number(bam_name, ref), wanted, begins]
    return _run(f, inputs, count, (name not in _TEXT_FEATURES,))


def getfeaturesinrefbyindex(bam: Path, bai: Path, features: Sequence[str],
                            ref: Union[int, str], numbers: Any, starts: Any, *,
                            nout: Optional[int] = None) -> Tuple[Any, ...]:
    """Several features of chosen alignments of one reference, in one fetch.

    Args:
        bam: the BAM file; bai: its BAI index.
        features: a list or tuple of distinct names of ``FEATURES``.
        ref, numbers, starts: as for ``getfeatureinrefbyindex``.
        nout: the number of outputs (default: one per feature; the service requires that).
    Returns:
        A tuple with one output per feature, in the order of ``features`` (a 1-tuple for
        one feature); each output as ``getfeatureinrefbyindex`` returns it.
    Raises:
        HelixoError: ``helixo:alignport:getfeaturesinrefbyindex:`` + ``InvalidFeatureType``,
        ``UnknownFeatureType``, ``DuplicatedFeatureType``, ``InvalidNumOutputArg`` (nout not
        the number of features), ``InvalidReference``, ``InvalidIndexing``,
        ``ValueOutOfRange``; ``helixo:alignport:CorruptedBAMFile``,
        ``helixo:alignport:BAMIndexMissing``, ``helixo:alignport:InvalidFileName``,
        ``helixo:alignport:CannotOpenInFile``; Interrupted: ``helixo:alignport:IterruptedByUser``.
    """
    f = "getfeaturesinrefbyindex"
    bam_name, bai_name = arg.path(f, "bam", bam), arg.path(f, "bai", bai)
    names = arg.text_list(f, "features", features)
    ref = arg.reference(f, "ref", ref)
    wanted = arg.ordinals(f, "numbers", numbers)
    begins = arg.starts(f, "starts", starts)
    count = len(names) if nout is None else _nout(f, nout)
    inputs = [bam_name, bai_name, names, _reference_number(bam_name, ref), wanted, begins]
    outputs = call("alignport", f, *inputs, nout=count)
    return tuple(arg.as_vector(v) if k < len(names) and names[k] not in _TEXT_FEATURES else v
                 for k, v in enumerate(outputs))


def writesambyregion(bam: Path, bai: Path, sam: Path, region: str,
                     optional_fields: bool = True, contained: bool = False) -> None:
    """Appends the SAM lines of the alignments of a region to a text file (no header lines).

    Args:
        bam: the BAM file; bai: its BAI index.
        sam: the text file the lines are appended to (created when missing).
        region: a reference name or a region such as ``"chr1:100-200"``.
        optional_fields: keep the optional fields after the eleven mandatory columns.
        contained: only alignments that lie wholly inside the region.
    Raises:
        HelixoError: ``helixo:alignport:writesambyregion:`` + ``InvalidFileName``,
        ``CannotOpenFile``, ``InvalidRefName``, ``InvalidRegion``, ``CannotWriteFile``;
        ``helixo:alignport:CorruptedBAMFile``, ``helixo:alignport:BAMIndexMissing``,
        ``helixo:alignport:InvalidFileName``, ``helixo:alignport:CannotOpenInFile``;
        Interrupted: ``helixo:alignport:IterruptedByUser``.
    """
    f = "writesambyregion"
    inputs = [arg.path(f, "bam", bam), arg.path(f, "bai", bai), arg.path(f, "sam", sam),
              arg.text(f, "region", region), arg.flag(f, "optional_fields", optional_fields),
              arg.flag(f, "contained", contained)]
    call("alignport", f, *inputs, nout=0)


def writesamunaligned(bam: Path, sam: Path, optional_fields: bool = True) -> None:
    """Appends the SAM lines of the unplaced records of a BAM file to a text file.

    Args:
        bam: the BAM file.
        sam: the text file the lines are appended to (created when missing).
        optional_fields: keep the optional fields after the eleven mandatory columns.
    Raises:
        HelixoError: ``helixo:alignport:writesamunaligned:`` + ``InvalidFileName``,
        ``CannotOpenFile``, ``CannotWriteFile``; ``helixo:alignport:CorruptedBAMFile``,
        ``helixo:alignport:InvalidFileName``, ``helixo:alignport:CannotOpenInFile``;
        Interrupted: ``helixo:alignport:IterruptedByUser``.
    """
    f = "writesamunaligned"
    inputs = [arg.path(f, "bam", bam), arg.path(f, "sam", sam),
              arg.flag(f, "optional_fields", optional_fields)]
    call("alignport", f, *inputs, nout=0)


def bam2bam(src: Path, src_format: str, dst: Path, dst_format: str, select: Any = None) -> None:
    """Copies the records of a SAM or BAM file into a SAM, BAM, FASTQ or FASTA file.

    Args:
        src: the input file; src_format: "sam" or "bam".
        dst: the output file (created or emptied); dst_format: "sam", "bam", "fastq" or
            "fasta".
        select: the 1-based record numbers to copy, unique and increasing (sent as uint32;
            converted exactly, else ValueError); None copies every record.
    Raises:
        HelixoError: ``helixo:alignport:`` + ``InvalidFileName``, ``InvalidFormatName``,
        ``InvalidSize`` (select not a vector), ``CannotOpenInFile``,
        ``CorruptedHeaderSAMFile``, ``CorruptedSAMFile``, ``CannotOpenOutFile``,
        ``CannotWriteBAMFile``, ``BadIndex`` (select not unique and increasing);
        Interrupted: ``helixo:alignport:IterruptedByUser``.
    """
    f = "bam2bam"
    inputs = [arg.path(f, "src", src), arg.text(f, "src_format", src_format),
              arg.path(f, "dst", dst), arg.text(f, "dst_format", dst_format),
              np.empty(0, dtype=np.uint32) if select is None
              else arg.ordinals(f, "select", select)]
    call("alignport", f, *inputs, nout=0)


def sam2bam(sam: Path, bam: Path) -> None:
    """Converts a SAM text file into a BAM file.

    Args:
        sam: the SAM file; bam: the BAM file written (created or emptied).
    Raises:
        HelixoError: ``helixo:alignport:`` + ``InvalidFileName``, ``CannotOpenInFile``,
        ``CorruptedHeaderSAMFile``, ``CorruptedSAMFile``, ``CannotOpenOutFile``,
        ``CannotWriteBAMFile``; Interrupted: ``helixo:alignport:IterruptedByUser``.
    """
    f = "sam2bam"
    inputs = [arg.path(f, "sam", sam), arg.path(f, "bam", bam)]
    call("alignport", f, *inputs, nout=0)


def indexbamfile(bam: Path, bai: Path) -> None:
    """Builds the BAI index of a coordinate-sorted BAM file.

    Args:
        bam: the BAM file; bai: the index file to write (a failed build leaves an existing
            file of that name as it was).
    Raises:
        HelixoError: ``helixo:alignport:`` + ``InvalidFileName``, ``CannotOpenInFile``,
        ``CorruptedBAMFile``, ``CannotOpenIdxFile``, ``CannotWriteBAMFile``;
        ``helixo:alignport:indexbamfile:CannotBuildIndex`` (not sorted by coordinate).
    """
    f = "indexbamfile"
    inputs = [arg.path(f, "bam", bam), arg.path(f, "bai", bai)]
    call("alignport", f, *inputs, nout=0)


def bamsort(bam: Path, prefix: Path) -> None:
    """Sorts a BAM file by coordinate into ``prefix + ".bam"``.

    Args:
        bam: the BAM file; prefix: the output name less ".bam" (also names the temporary
            files of the sort).
    Raises:
        HelixoError: ``helixo:alignport:`` + ``InvalidFileName``, ``CannotOpenInFile``,
        ``CorruptedSAMFile`` (the input is damaged), ``InvalidPrefix``, ``CannotOpenOutFile``,
        ``CannotWriteBAMFile``.
    """
    f = "bamsort"
    inputs = [arg.path(f, "bam", bam), arg.path(f, "prefix", prefix)]
    call("alignport", f, *inputs, nout=0)


def baminfo(bam: Path, *, nout: int = 2) -> Any:
    """Whether a BAM file is sorted by coordinate, and its records per reference.

    Args:
        bam: the BAM file.
        nout: 2 (default), 1 (the read stops at the first record out of order) or 0.
    Returns:
        ``(is_sorted, counts)``: a ``numpy.bool_``, and a 1-d float64 array whose element 0
        counts the unplaced records and element t + 1 those of reference t.
    Raises:
        HelixoError: ``helixo:alignport:`` + ``InvalidFileName``, ``CannotOpenInFile``,
        ``CorruptedBAMFile``; Interrupted: ``helixo:alignport:IterruptedByUser``.
    """
    f = "baminfo"
    inputs = [arg.path(f, "bam", bam)]
    return _run(f, inputs, _nout(f, nout), (False, True))


def saminfo(sam: Path, *, nout: int = 3) -> Any:
    """Whether a SAM text file is sorted by coordinate, its alignments per reference, and
    the reference names in order of first appearance.

    Args:
        sam: the SAM file.
        nout: 3 (default), 2, 1 (the read stops at the first line out of order) or 0.
    Returns:
        ``(is_sorted, counts, names)``: a ``numpy.bool_``, a 1-d float64 array and a list of
        str, counts and names in the same order.
    Raises:
        HelixoError: ``helixo:alignport:`` + ``InvalidFileName``, ``CannotOpenInFile``,
        ``CorruptedSAMFile``; Interrupted: ``helixo:alignport:IterruptedByUser``.
    """
    f = "saminfo"
    inputs = [arg.path(f, "sam", sam)]
    return _run(f, inputs, _nout(f, nout), (False, True, False))


def dumpinfobyregion(bam: Path, bai: Path, region: str) -> None:
    """Prints the header text and the SAM lines of the alignments of a region.

    Args:
        bam: the BAM file; bai: its BAI index; region: e.g. ``"chr1:100-200"``.
    Raises:
        HelixoError: ``helixo:alignport:`` + ``InvalidRefName``, ``InvalidRegion``,
        ``CorruptedBAMFile``, ``BAMIndexMissing``, ``InvalidFileName``, ``CannotOpenInFile``.
    """
    f = "dumpinfobyregion"
    inputs = [arg.path(f, "bam", bam), arg.path(f, "bai", bai), arg.text(f, "region", region)]
    call("alignport", f, *inputs, nout=0)


def dumpinfobyindex(bam: Path, bai: Path, first: int, last: int) -> None:
    """Prints the SAM lines of records ``first`` to ``last`` (1-based, in file order).

    Args:
        bam: the BAM file; bai: its BAI index; first, last: record numbers (int).
    Raises:
        HelixoError: ``helixo:alignport:dumpinfobyindex:InvalidIndices`` (an empty range,
        outside the file, across references, or records without a reference);
        ``helixo:alignport:CorruptedBAMFile``, ``BAMIndexMissing``, ``InvalidFileName``,
        ``CannotOpenInFile``.
    """
    f = "dumpinfobyindex"
    inputs = [arg.path(f, "bam", bam), arg.path(f, "bai", bai),
              arg.number(f, "first", first), arg.number(f, "last", last)]
    call("alignport", f, *inputs, nout=0)


def dumpinfoinrefbyindex(bam: Path, bai: Path, ref: Union[int, str], first: int,
                         last: int) -> None:
    """Prints the SAM lines of alignments ``first`` to ``last`` (1-based) of one reference.

    Args:
        bam: the BAM file; bai: its BAI index.
        ref: the reference, by 0-based number or by name.
        first, last: alignment numbers (int).
    Raises:
        HelixoError: ``helixo:alignport:dumpinfoinrefbyindex:InvalidReference``,
        ``helixo:alignport:dumpinfoinrefbyindex:InvalidIndices``,
        ``helixo:alignport:CorruptedBAMFile``, ``BAMIndexMissing``, ``InvalidFileName``,
        ``CannotOpenInFile``.
    """
    f = "dumpinfoinrefbyindex"
    bam_name, bai_name = arg.path(f, "bam", bam), arg.path(f, "bai", bai)
    ref = arg.reference(f, "ref", ref)
    first_number, last_number = arg.number(f, "first", first), arg.number(f, "last", last)
    inputs = [bam_name, bai_name, _reference_number(bam_name, ref), first_number, last_number]
    call("alignport", f, *inputs, nout=0)


def dumpstartsinfo(bam: Path) -> None:
    """Prints where the records of each reference begin in the file, and the record count.

    Args:
        bam: the BAM file.
    Raises:
        HelixoError: ``helixo:alignport:CorruptedBAMFile``, ``InvalidFileName``,
        ``CannotOpenInFile``.
    """
    f = "dumpstartsinfo"
    inputs = [arg.path(f, "bam", bam)]
    call("alignport", f, *inputs, nout=0)
