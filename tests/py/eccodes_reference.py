"""ecCodes, run as a black box, as a second opinion on decoded values.

`split_messages` cuts a file into messages without the module, so that both
decoders see the same octets. `eccodes_values` decodes one message with the
python3-eccodes bindings into one flat list in the order our decoder uses;
`our_values` reduces a list of `DecodedValue` to the same shape, and
`differences` walks the two.

Normalisation, the only liberties taken before comparing:

- ecCodes marks a missing number with CODES_MISSING_DOUBLE (-1e100); we give
  None. Both become None.
- Numbers agree within a relative 1e-9: ecCodes multiplies by a power of ten
  where we divide by one, so the last bits differ (69.65230000000001 against
  69.6523).
- A class-31 element whose bits are all ones (0 31 021 of 63, say) is
  missing for ecCodes; we never take class 31 as missing and give the
  number. Such a pair agrees.
- Operator markers stay: ecCodes lists 2-22-000, 2-23-000 to 2-25-000,
  2-32-000, 2-35-000 to 2-37-000, 2-41-000 and 2-42-000 with the value 0 at
  the same places. Associated fields (999999) and replication factors are
  values in both.
- A text element counts as a number too: both give its ordinal, 1000 times
  the text's place plus its octet count. Its characters are compared with
  ecCodes' "stringValues": ecCodes ends a text at its first NUL, turns
  octets from 0x80 up into U+FFFD and an all-0xFF field into "", where we
  keep NULs, write "?" and give None. Trailing white space is dropped on
  both sides. For compressed data ecCodes lists a text column once when
  it is sent once for all subsets (increment width 0), else once per subset;
  a column whose subsets all agree may have been sent either way, so it
  matches one entry or, when the next entries repeat it for every subset,
  as many entries as there are subsets.
- Descriptor codes are compared only where ecCodes' "expandedDescriptors"
  holds one code per value: when it has no delayed replication (1-XX-000)
  and, without replication descriptors, times the subset count, it has as
  many entries as there are values. ecCodes gives 2-XX-255 where we give the
  code of the element referred back to.

Nothing here holds tests; nothing here imports the module.
"""

from __future__ import annotations

import math
import os
import tempfile
from dataclasses import dataclass
from typing import Iterable, List, Optional, Sequence

try:
    import eccodes
except ImportError:  # the callers skip
    eccodes = None

MARKER = b"BUFR"
TERMINATOR = b"7777"
ECCODES_MISSING = -1e100
RELATIVE_TOLERANCE = 1e-9
WHITE_SPACE = "\t\n\v\f\r "


def split_messages(data: bytes) -> List[bytes]:
    """Every whole message in `data`, in order.

    A message starts at "BUFR", runs for the 24-bit length at offset 4 and
    ends with "7777"; a marker that does not start such a message (a stray
    "BUFR", or a length running past the data) is stepped over.
    """
    messages = []
    start = data.find(MARKER)
    while start >= 0:
        length = int.from_bytes(data[start + 4:start + 7], "big") if start + 7 <= len(data) else 0
        end = start + length
        if length < 8 or end > len(data) or data[end - 4:end] != TERMINATOR:
            start = data.find(MARKER, start + 1)
            continue
        messages.append(data[start:end])
        start = data.find(MARKER, end)
    return messages


def edition(message: bytes) -> int:
    return message[7]


class EccodesFailure(Exception):
    """ecCodes refused the message, or decoded it only after printing errors."""


@dataclass(frozen=True)
class Reference:
    subsets: int
    compressed: bool
    numbers: List[Optional[float]]
    strings: List[str]
    codes: Optional[List[int]]


class _StderrCapture:
    """Collects what the C library writes to file descriptor 2."""

    def __enter__(self) -> "_StderrCapture":
        self._file = tempfile.TemporaryFile()
        self._saved = os.dup(2)
        os.dup2(self._file.fileno(), 2)
        self.text = ""
        return self

    def __exit__(self, *exc) -> None:
        os.dup2(self._saved, 2)
        os.close(self._saved)
        self._file.seek(0)
        self.text = self._file.read().decode("utf-8", "replace")
        self._file.close()


def eccodes_available() -> bool:
    return eccodes is not None


def eccodes_values(message: bytes, tolerated: Sequence[str] = ()) -> Reference:
    """ecCodes' flat values of one message; raises EccodesFailure.

    An error line that holds one of the `tolerated` texts does not count.
    """
    with _StderrCapture() as capture:
        handle = None
        try:
            handle = eccodes.codes_new_from_message(message)
            eccodes.codes_set(handle, "unpack", 1)
            subsets = eccodes.codes_get(handle, "numberOfSubsets")
            compressed = bool(eccodes.codes_get(handle, "compressedData"))
            numbers = list(eccodes.codes_get_array(handle, "numericValues"))
            try:
                strings = list(eccodes.codes_get_array(handle, "stringValues"))
            except eccodes.CodesInternalError:
                strings = []
            expanded = list(eccodes.codes_get_array(handle, "expandedDescriptors"))
        except eccodes.CodesInternalError as error:
            raise EccodesFailure(f"{type(error).__name__}: {error}") from None
        finally:
            if handle is not None:
                eccodes.codes_release(handle)
    errors = [line for line in capture.text.splitlines()
              if "ERROR" in line and not any(text in line for text in tolerated)]
    if errors:
        raise EccodesFailure(capture.text.strip())
    numbers = [None if value == ECCODES_MISSING else float(value) for value in numbers]
    codes = None
    if not any(code // 100000 == 1 and code % 1000 == 0 for code in expanded):
        per_subset = [code for code in expanded if code // 100000 != 1]
        if len(per_subset) * subsets == len(numbers):
            codes = per_subset * subsets
    return Reference(subsets, compressed, numbers, strings, codes)


@dataclass(frozen=True)
class Item:
    """One of our values, reduced to what ecCodes can confirm."""

    descriptor: int
    raw: Optional[int]
    number: Optional[float]
    text: Optional[str]

    @property
    def is_text(self) -> bool:
        return self.raw is None

    @property
    def all_ones_class31(self) -> bool:
        return (self.descriptor // 1000 == 31 and self.raw is not None
                and self.raw & (self.raw + 1) == 0 and self.raw > 0)


def our_values(values: Iterable) -> List[Item]:
    """`DecodedValue`s as Items; a text element is the one without `raw`."""
    return [Item(value.descriptor, value.raw, value.raw_value, value.raw_text)
            for value in values]


def normalise_ours(text: Optional[str]) -> str:
    if text is None:
        return ""
    return text.split("\0", 1)[0].rstrip(WHITE_SPACE)


def normalise_theirs(text: str) -> str:
    return "".join("?" if ch == "\ufffd" or ord(ch) >= 0x80 else ch
                   for ch in text).rstrip(WHITE_SPACE)


def our_text_columns(items: Sequence[Item], subsets: int,
                      compressed: bool) -> List[List[str]]:
    """Our texts, normalised, grouped as ecCodes may list them: one group
    per text for uncompressed data, one per column (subsets in order) for
    compressed data, columns told apart by their ordinals."""
    texts = [item for item in items if item.is_text]
    if not compressed:
        return [[normalise_ours(item.text)] for item in texts]
    columns: dict = {}
    for item in texts:
        column = (int(item.number) // 1000 - 1) // subsets
        columns.setdefault(column, []).append(normalise_ours(item.text))
    return [columns[column] for column in sorted(columns)]


def text_differences(items: Sequence[Item], reference: Reference) -> List["Difference"]:
    theirs = [normalise_theirs(text) for text in reference.strings]
    found = []
    at = 0
    for column in our_text_columns(items, reference.subsets, reference.compressed):
        if len(set(column)) == 1 and theirs[at:at + len(column)] != column:
            column = column[:1]
        for got in column:
            expected = theirs[at] if at < len(theirs) else None
            if got != expected:
                found.append(Difference("text", at, expected, got))
            at += 1
    if at != len(theirs):
        found.append(Difference("strings length", min(at, len(theirs)), len(theirs), at))
    return found


@dataclass(frozen=True)
class Difference:
    kind: str  # "number", "missing", "code", "text", "length", "strings length"
    index: int
    expected: object  # ecCodes
    got: object  # ours

    def __str__(self) -> str:
        return f"{self.kind} at {self.index}: ecCodes {self.expected!r}, ours {self.got!r}"


def numbers_agree(expected: Optional[float], got: Optional[float]) -> bool:
    if expected is None or got is None:
        return expected is None and got is None
    return math.isclose(expected, got, rel_tol=RELATIVE_TOLERANCE, abs_tol=0.0)


def is_back_reference(code: int) -> bool:
    return code // 1000 in (223, 224, 225, 232) and code % 1000 == 255


def differences(ours: Sequence[Item], reference: Reference, limit: int = 20) -> List[Difference]:
    """The first `limit` disagreements between our values and ecCodes'."""
    found: List[Difference] = []
    for index, (item, expected) in enumerate(zip(ours, reference.numbers)):
        if reference.codes is not None:
            code = reference.codes[index]
            if code != item.descriptor and not is_back_reference(code):
                found.append(Difference("code", index, code, item.descriptor))
        if expected is None and item.all_ones_class31:
            continue
        if not numbers_agree(expected, item.number):
            kind = "missing" if (expected is None) != (item.number is None) else "number"
            found.append(Difference(kind, index, expected, item.number))
        if len(found) >= limit:
            return found
    if len(ours) != len(reference.numbers):
        found.append(Difference("length", min(len(ours), len(reference.numbers)),
                                len(reference.numbers), len(ours)))
    found.extend(text_differences(ours, reference))
    return found[:limit]
