"""``Alignments``: a BAM file and its BAI index, with the starts of each reference cached."""

from __future__ import annotations

import os
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _arguments as arg
from . import alignport

__all__ = ["Alignments"]


class Alignments:
    """A BAM file and its BAI index.

    ``bai`` defaults to ``bam + ".bai"`` when that file exists; otherwise the BAM file's name
    is handed on as the index name, so that the library's own lookup finds the index.

    Attributes:
        bam: the BAM file's name; bai: the index name handed to the services.
        references: the reference names, in header order (list of str).
        lengths: the reference lengths (1-d uint32 array).
    Raises (at construction):
        HelixoError: ``helixo:alignport:InvalidFileName``, ``helixo:alignport:CannotOpenInFile``.
    """

    def __init__(self, bam: arg.PathArg, bai: Optional[arg.PathArg] = None) -> None:
        f = "Alignments"
        self.bam: str = arg.path(f, "bam", bam)
        if bai is None:
            beside = self.bam + ".bai"
            self.bai: str = beside if os.path.isfile(beside) else self.bam
        else:
            self.bai = arg.path(f, "bai", bai)
        _, names, lengths = alignport.getheader(self.bam)
        self.references: List[str] = list(names)
        self.lengths: np.ndarray = lengths
        self._starts: Dict[int, Tuple[np.ndarray, np.ndarray, np.ndarray]] = {}
        self._less_one: Dict[int, np.ndarray] = {}

    def __repr__(self) -> str:
        return f"Alignments({self.bam!r}, bai={self.bai!r}, references={len(self.references)})"

    def _number(self, func: str, ref: Any) -> int:
        """A reference number or name as the 0-based number (-1 for a name not in the
        header: the service then reports the invalid reference)."""
        if isinstance(ref, str):
            return self.references.index(ref) if ref in self.references else -1
        if not arg.is_integer(ref):
            raise TypeError(f"{func}: ref must be an int or str, not {type(ref).__name__}")
        return int(ref)

    def starts(self, ref: Union[int, str]) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
        """``(starts, ends, flags)`` of the alignments of one reference, as
        ``alignport.getstartsinref`` returns them (read-only arrays, cached per reference:
        a second call does not read the file again).

        Args:
            ref: the reference, by 0-based number or by name.
        Raises:
            HelixoError: ``helixo:alignport:getstartsinref:InvalidReference``,
            ``helixo:alignport:BAMIndexMissing``, ``helixo:alignport:CorruptedBAMFile``;
            Interrupted: ``helixo:alignport:IterruptedByUser``.
        """
        number = self._number("Alignments.starts", ref)
        cached = self._starts.get(number)
        if cached is None:
            cached = alignport.getstartsinref(self.bam, self.bai, number)
            for column in cached:
                column.setflags(write=False)
            self._starts[number] = cached
        return cached

    def features(self, ref: Union[int, str], numbers: Any,
                 names: Optional[Sequence[str]] = None) -> Dict[str, Any]:
        """Features of chosen alignments of one reference, using the cached starts.

        Args:
            ref: the reference, by 0-based number or by name.
            numbers: the wanted 1-based alignment numbers, increasing (converted to uint32
                exactly, else ValueError).
            names: feature names (a list or tuple of str, or one str); None: all eleven, in
                the order of ``alignport.FEATURES``.
        Returns:
            A dict feature name → output (1-d arrays for the numeric features, lists of str
            for the texts), in the order of ``names``.
        Raises:
            HelixoError: ``helixo:alignport:getfeaturesinrefbyindex:`` + ``UnknownFeatureType``,
            ``DuplicatedFeatureType``, ``InvalidReference``, ``InvalidIndexing``,
            ``ValueOutOfRange``; those of ``starts``.
        """
        f = "Alignments.features"
        wanted = list(alignport.FEATURES) if names is None else \
            [names] if isinstance(names, str) else arg.text_list(f, "names", names)
        number = self._number(f, ref)
        ordinals = arg.ordinals(f, "numbers", numbers)
        less_one = self._less_one.get(number)
        if less_one is None:
            less_one = self.starts(number)[0] - np.uint32(1)
            less_one.setflags(write=False)
            self._less_one[number] = less_one
        outputs = alignport.getfeaturesinrefbyindex(self.bam, self.bai, wanted, number,
                                                    ordinals, less_one)
        return dict(zip(wanted, outputs))
