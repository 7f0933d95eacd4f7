"""Helpers for the section-4 decoding tests: small ecCodes-style table
directories, one shared table set, a message-and-decode shortcut, and the
expected form of a decoded value (with its `data` and repr worked out from
the value rules alone, not from the module).

Nothing here holds tests.
"""

from __future__ import annotations

import functools
import tempfile
from dataclasses import dataclass
from pathlib import Path
from typing import Iterable, Mapping, Optional, Sequence

from hypothesis import strategies as st

from _quorvel import TableSet, decode_values_with_tables
from builder import BitWriter, build_message

ERROR_PREFIX = "csv/table parse error: "
ASSOCIATED = 999999
TEXT_UNIT = "CCITT IA5"


@dataclass(frozen=True)
class Element:
    code: int
    name: str
    width: int
    scale: int = 0
    reference: int = 0
    unit: str = "Numeric"

    @property
    def is_text(self) -> bool:
        return self.unit == TEXT_UNIT

    def value(self, raw: int, *, width: Optional[int] = None) -> Optional[float]:
        """The scaled value of `raw`, None when it is the missing marking."""
        width = self.width if width is None else width
        if width < 64 and self.code // 1000 % 100 != 31 and raw == (1 << width) - 1:
            return None
        return float(self.reference + raw) / 10.0 ** self.scale


def element_rows(elements: Iterable[Element]) -> str:
    header = ("#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale"
              "|crex_width\n")
    return header + "".join(
        f"{e.code:06}|e{e.code}|long|{e.name}|{e.unit}|{e.scale}|{e.reference}|{e.width}"
        "|x|0|0\n" for e in elements)


def write_tables(directory: Path, elements: Iterable[Element],
                 sequences: Optional[Mapping[int, Sequence[int]]] = None,
                 codetables: Optional[Mapping[int, Mapping[int, str]]] = None) -> str:
    """An ecCodes-style table directory; returns its path as str."""
    directory.mkdir(parents=True, exist_ok=True)
    (directory / "element.table").write_text(element_rows(elements))
    (directory / "sequence.def").write_text("".join(
        f'"{code:06}" = [ ' + ", ".join(f"{m:06}" for m in members) + " ]\n"
        for code, members in (sequences or {}).items()))
    if codetables is not None:
        (directory / "codetables").mkdir(exist_ok=True)
        for code, entries in codetables.items():
            (directory / "codetables" / f"{code}.table").write_text(
                "".join(f"{raw} {raw} {meaning}\n" for raw, meaning in entries.items()))
    return str(directory)


# ---- The shared table set --------------------------------------------------------

BLOCK = Element(1001, "WMO BLOCK NUMBER", 7)
STATION = Element(1002, "WMO STATION NUMBER", 10)
REGION = Element(1003, "WMO REGION NUMBER/GEOGRAPHICAL AREA", 3, unit="CODE TABLE")
NAME = Element(1015, "STATION OR SITE NAME", 64, unit=TEXT_UNIT)
TEMPERATURE = Element(12101, "TEMPERATURE/AIR TEMPERATURE", 16, 2, -27315, "K")
PRESSURE = Element(10004, "PRESSURE", 14, -1, 0, "Pa")
SHORT_FACTOR = Element(31000, "SHORT DELAYED DESCRIPTOR REPLICATION FACTOR", 1)
FACTOR = Element(31001, "DELAYED DESCRIPTOR REPLICATION FACTOR", 8)
LONG_FACTOR = Element(31002, "EXTENDED DELAYED DESCRIPTOR REPLICATION FACTOR", 16)
PRESENT = Element(31031, "DATA PRESENT INDICATOR", 1, unit="FLAG TABLE")
# A zero-width class-31 element reads nothing and is never missing: its value
# is its reference, which makes large replication counts free of data.
HUGE_FACTOR = Element(31090, "CONSTANT FACTOR", 0, 0, 1 << 20)
NOTHING = Element(48000, "ZERO WIDTH", 0)
# Ten distinct elements for bitmap tests.
SERIES = [Element(48010 + i, f"SERIES {i}", 4) for i in range(10)]


def width_element(width: int) -> Element:
    """Numeric elements 049000 + w of width w, w from 0 to 65."""
    return Element(49000 + width, f"WIDTH {width}", width)


def text_element(width: int) -> Element:
    """Text elements 050000 + w of width w bits."""
    return Element(50000 + width, f"TEXT {width}", width, unit=TEXT_UNIT)


TEXT_WIDTHS = (0, 4, 8, 12, 16, 24, 32, 64)

ELEMENTS = [BLOCK, STATION, REGION, NAME, TEMPERATURE, PRESSURE, SHORT_FACTOR, FACTOR,
            LONG_FACTOR, PRESENT, HUGE_FACTOR, NOTHING, *SERIES,
            *(width_element(w) for w in range(66)), *(text_element(w) for w in TEXT_WIDTHS)]

CODETABLES = {
    1003: {0: "ANTARCTICA", 1: "REGION I", 7: "MISSING VALUE"},
    # Meanings belong to codes, not to units: a plain numeric element may
    # have one, and an empty table answers nothing.
    48010: {3: "THREE"},
    48011: {},
    # Never consulted: associated fields have no meaning.
    999999: {0: "NEVER", 1: "NEVER", 3: "NEVER", 15: "NEVER"},
}


@functools.lru_cache(maxsize=None)
def _table_directory() -> str:
    holder = tempfile.TemporaryDirectory(prefix="quorvel-decode-")
    _KEEP.append(holder)
    return write_tables(Path(holder.name) / "tables", ELEMENTS, {}, CODETABLES)


_KEEP: list = []


def table_directory() -> str:
    """The shared table directory, written once per test process."""
    return _table_directory()


@functools.lru_cache(maxsize=None)
def standard_tables() -> TableSet:
    return TableSet.from_eccodes(table_directory())


@functools.lru_cache(maxsize=None)
def tables_with(sequences: tuple = (), extra: tuple = ()) -> TableSet:
    """The shared elements plus `extra` elements and `sequences`, given as a
    tuple of (code, members-tuple) pairs so that the result can be cached."""
    holder = tempfile.TemporaryDirectory(prefix="quorvel-decode-")
    _KEEP.append(holder)
    path = write_tables(Path(holder.name) / "tables", [*ELEMENTS, *extra], dict(sequences),
                        CODETABLES)
    return TableSet.from_eccodes(path)


def message(descriptors: Sequence[int], data: bytes | BitWriter = b"", *, subsets: int = 1,
            compressed: bool = False) -> bytes:
    return build_message(descriptors=descriptors, data=bytes(data), number_of_subsets=subsets,
                         compressed=compressed).data


def decode(descriptors: Sequence[int], data: bytes | BitWriter = b"", *, subsets: int = 1,
           compressed: bool = False, tables: Optional[TableSet] = None) -> list:
    """Builds one message and decodes it with the shared tables."""
    return decode_values_with_tables(
        message(descriptors, data, subsets=subsets, compressed=compressed),
        standard_tables() if tables is None else tables)


# ---- Expected values -------------------------------------------------------------

@dataclass(frozen=True)
class Value:
    descriptor: int
    name: str
    raw: Optional[int]
    raw_value: Optional[float]
    raw_text: Optional[str] = None
    raw_meaning: Optional[str] = None


def numeric(element: Element, raw: int, *, width: Optional[int] = None, meaning=None) -> Value:
    """The value read for `raw` under the element's own scale and reference."""
    if meaning is None:
        meaning = CODETABLES.get(element.code, {}).get(raw) if element.code != ASSOCIATED else None
    return Value(element.code, element.name, raw, element.value(raw, width=width), None, meaning)


def text(element: Element, content: Optional[str], ordinal: float) -> Value:
    return Value(element.code, element.name, None, ordinal, content, None)


def marker(code: int) -> Value:
    return Value(code, "operator", 0, 0.0)


def associated(raw: int) -> Value:
    return Value(ASSOCIATED, "associatedField", raw, float(raw))


def format_number(number: float) -> str:
    """Shortest round-trip text with a fraction, exponent form from 1e16 up
    and below 1e-4: Python's float repr with the exponent's '+' and leading
    zeros dropped (it switches form at the same magnitudes)."""
    text_form = repr(float(number))
    if "e" not in text_form:
        return text_form
    mantissa, exponent = text_form.split("e")
    return f"{mantissa}e{int(exponent)}"


def expected_data(value: Value):
    if value.raw_text is not None:
        return value.raw_text
    if value.raw_meaning is not None:
        return value.raw_meaning
    return value.raw_value


def expected_repr(value: Value) -> str:
    shown = expected_data(value)
    if shown is None:
        shown = "None"
    elif isinstance(shown, float):
        shown = f"Some({format_number(shown)})"
    return f"DecodedValue({value.descriptor:06}, {shown})"


def observed(decoded) -> Value:
    """The six fields of a DecodedValue; checks on the way that `data` and
    repr() agree with them, so every comparison covers all eight."""
    value = Value(decoded.descriptor, decoded.name, decoded.raw, decoded.raw_value,
                  decoded.raw_text, decoded.raw_meaning)
    data = decoded.data
    assert data == expected_data(value) and type(data) is type(expected_data(value)), value
    assert repr(decoded) == expected_repr(value)
    for field, kind in (("descriptor", int), ("name", str), ("raw", int), ("raw_value", float),
                        ("raw_text", str), ("raw_meaning", str)):
        item = getattr(value, field)
        assert item is None or type(item) is kind, (field, item)
    return value


def observe(values) -> list[Value]:
    assert type(values) is list
    return [observed(v) for v in values]


def decoded(*args, **kwargs) -> list[Value]:
    return observe(decode(*args, **kwargs))


def decode_error(*args, **kwargs) -> str:
    try:
        decode(*args, **kwargs)
    except ValueError as error:
        return str(error)
    raise AssertionError("the decode did not fail")


def bits(*fields) -> bytes:
    """Packs (value, width) pairs and whole `bytes` octets most significant
    bit first, with no alignment between them."""
    writer = BitWriter()
    for field in fields:
        if isinstance(field, bytes):
            writer.write_octets(field)
        else:
            writer.write(*field)
    return writer.to_bytes()


def not_enough_bits(position: int, width: int, available: int) -> str:
    return (ERROR_PREFIX + f"not enough bits while reading section 4 at bit {position} "
            f"for width {width} ({available} bits available)")


# ---- A reference reader ----------------------------------------------------------

class RefFailure(Exception):
    """The decode fails; `str()` is the message Python should see."""


class Reader:
    """Section-4 bits, most significant first, with the reader's failure
    texts; written over one Python integer, not over a word buffer."""

    def __init__(self, data: bytes) -> None:
        self.value = int.from_bytes(data, "big")
        self.size = 8 * len(data)
        self.position = 0

    def read(self, width: int) -> int:
        if width == 0:
            return 0
        if width > 64:
            raise RefFailure(ERROR_PREFIX + f"cannot read {width} bits into u64")
        if self.position + width > self.size:
            raise RefFailure(not_enough_bits(self.position, width, self.size))
        self.position += width
        return (self.value >> (self.size - self.position)) & ((1 << width) - 1)

    def read_bytes(self, count: int) -> bytes:
        octets = [self.read(8) for _ in range(count // 8)]
        if count % 8:
            octets.append(self.read(count % 8) << (8 - count % 8))
        return bytes(octets)


def decode_text(octets: bytes) -> Optional[str]:
    if all(octet == 0xFF for octet in octets):
        return None
    return "".join(chr(o) if o < 0x80 else "?" for o in octets).rstrip("\t\n\v\f\r ")


# ---- Random descriptor lists for the reference comparisons ------------------------

REF_ELEMENTS = (
    Element(48101, "REF A", 3),
    Element(48102, "REF B", 5, 1, -10),
    Element(48103, "REF C", 12, -2, 100),
    Element(48104, "REF D", 1, 3, 0),
    REGION,
    text_element(8), text_element(12), text_element(16),
)
# Two-bit factors keep nested replication small.
REF_FACTORS = (Element(31050, "REF FACTOR", 2), Element(48105, "REF PLAIN FACTOR", 2))
REF_TABLE = {e.code: e for e in REF_ELEMENTS + REF_FACTORS}


def _flatten(groups):
    return [code for group in groups for code in group]


def _groups(depth):
    single = st.sampled_from(REF_ELEMENTS).map(lambda e: [e.code])
    if depth == 0:
        return single
    inner = st.lists(_groups(depth - 1), min_size=1, max_size=3).map(_flatten)
    regular = st.tuples(st.integers(1, 3), inner).map(
        lambda t: [100000 + len(t[1]) * 1000 + t[0]] + t[1])
    delayed = st.tuples(st.sampled_from(REF_FACTORS), inner).map(
        lambda t: [100000 + len(t[1]) * 1000, t[0].code] + t[1])
    return st.one_of(single, single, regular, delayed)


# Well-formed lists of REF_ELEMENTS under regular and delayed replication,
# nested two deep.
descriptor_lists = st.lists(_groups(2), min_size=1, max_size=5).map(_flatten)


def ref_tables() -> TableSet:
    return tables_with(extra=REF_ELEMENTS + REF_FACTORS)
