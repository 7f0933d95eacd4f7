"""How the command line writes messages and values, as text and as JSON.

Values are written as they are formatted, a batch at a time, so that no
message's output is ever held whole.
"""

from __future__ import annotations

import math
import operator
from typing import Any, Callable

import _quorvel

from quorvel._escape import json_dumps, json_text, printable

# Descriptors shown on a listing line before the rest is only counted.
LISTED_DESCRIPTORS = 6

# Names wider than this push their value right instead of widening the column.
NAME_COLUMN_LIMIT = 48


# What the operators that leave a marker in the values announce.
_OPERATOR_MARKERS = {
    222000: "quality information follows",
    223000: "substituted values follow",
    224000: "first-order statistics follow",
    225000: "difference statistics follow",
    232000: "replaced or retained values follow",
    235000: "cancel backward data reference",
    236000: "define data present bit-map",
    237000: "use defined data present bit-map",
    237255: "cancel use of defined bit-map",
    241000: "define event",
    241255: "cancel event",
    242000: "define conditioning event",
    242255: "cancel conditioning event",
}


def fxy(code: int) -> str:
    """A descriptor code as its six digits FXXYYY."""
    return f"{code:06d}"


def listing_line(path: str, slot_index: int,
                 message: _quorvel.BufrMessage | _quorvel.Message) -> str:
    """One line describing a message, for ``quorvel ls`` and above each ``dump``."""
    descriptors = message.unexpanded_descriptors
    shown = " ".join(fxy(code) for code in descriptors[:LISTED_DESCRIPTORS])
    if len(descriptors) > LISTED_DESCRIPTORS:
        shown += f" ... (+{len(descriptors) - LISTED_DESCRIPTORS})"
    centre = f"{message.originating_centre}/{message.originating_subcentre}"
    category = (
        f"{message.data_category}/{message.international_data_subcategory}"
        f"/{message.local_data_subcategory}"
    )
    date = (
        f"{message.typical_year:04d}-{message.typical_month:02d}-{message.typical_day:02d}"
        f" {message.typical_hour:02d}:{message.typical_minute:02d}:{message.typical_second:02d}"
    )
    return (
        f"{printable(path)}:{slot_index}  centre={centre:<7} category={category:<9} "
        f"master={message.master_tables_version_number:<3} "
        f"local={message.local_tables_version_number:<3} {date}  "
        f"subsets={message.number_of_subsets:<5} "
        f"{'compressed  ' if message.compressed_data else 'uncompressed'}  {shown}"
    )


def header_record(message: _quorvel.BufrMessage | _quorvel.Message) -> dict[str, Any]:
    """Every header field of a message, by its attribute name."""
    return {name: getattr(message, name) for name in _quorvel.BUFR_MESSAGE_FIELDS}


def format_number(number: float) -> str:
    """Whole numbers without a fraction, others in the shortest form that reads back."""
    if number.is_integer() and abs(number) < 1e15:
        return str(int(number))
    return repr(number)


def _is_table_unit(unit: str) -> bool:
    return unit.lower() in ("code table", "flag table")



def value_text(
    descriptor: int,
    name: str,
    raw: int | None,
    raw_value: float | None,
    raw_text: str | None,
    raw_meaning: str | None,
    unit: str | None,
) -> str:
    """The value column of a dump line."""
    if name == _quorvel.OPERATOR_NAME and descriptor // 100000 == 2:
        return f"[{_OPERATOR_MARKERS.get(descriptor, 'operator marker')}]"
    if raw_text is not None:
        return json_text(raw_text)
    if raw is None or raw_value is None:
        text = "missing"
    else:
        text = format_number(raw_value)
        if unit and not _is_table_unit(unit) and unit.lower() not in ("numeric", "ccitt ia5"):
            text += f" {printable(unit)}"
    meaning = printable(raw_meaning) if raw_meaning else None
    if unit and _is_table_unit(unit):
        kind = unit.lower()
        return f"{text} ({kind}: {meaning})" if meaning else f"{text} ({kind})"
    if meaning:
        text += f" ({meaning})"
    return text


# What a value is told apart by: every attribute that shows in its line or record.
_fields = operator.attrgetter("descriptor", "name", "raw", "raw_value", "raw_text", "raw_meaning")
_name = operator.attrgetter("name")
_Fields = tuple[int, str, "int | None", "float | None", "str | None", "str | None"]

# Values formatted and written at a time: enough to keep the per-write cost
# small, few enough that a batch is never a large string.
_BATCH = 4096

# Distinct values remembered per message; a message of many distinct texts
# starts again rather than grow without bound.
_CACHE_LIMIT = 1 << 16

NOT_FINITE_NOTE = "raw_value is out of the range of a double"


class _Formatted(dict):  # type: ignore[type-arg]
    """The text of each distinct value, formatted the first time it is asked for.

    Large messages repeat few distinct values (a constant column of a
    compressed message is one value in every subset), so most values are
    one dictionary look-up.
    """

    def __init__(self, make: Callable[[_Fields], str]) -> None:
        super().__init__()
        self._make = make

    def __missing__(self, key: _Fields) -> str:
        if len(self) >= _CACHE_LIMIT:
            self.clear()
        text = self[key] = self._make(key)
        return text


class _Units(dict):  # type: ignore[type-arg]
    """The Table B unit of each descriptor; None for markers and associated fields."""

    def __init__(self, tables: _quorvel.TableSet) -> None:
        super().__init__()
        self._tables = tables

    def __missing__(self, code: int) -> str | None:
        unit = None
        if code != _quorvel.ASSOCIATED_FIELD_CODE and code // 100000 == 0:
            element = self._tables.get_element(code)
            unit = element.unit if element is not None else None
        self[code] = unit
        return unit


def write_value_lines(
    write: Callable[[str], object],
    values: list[_quorvel.DecodedValue],
    count: int,
    tables: _quorvel.TableSet,
) -> None:
    """Writes the first ``count`` of ``values``, a line each: descriptor, name,
    value with unit and meaning. The name column fits the longest name of the
    message, up to ``NAME_COLUMN_LIMIT``."""
    width = min(max(map(len, map(_name, values)), default=0), NAME_COLUMN_LIMIT)
    units = _Units(tables)

    def line(fields: _Fields) -> str:
        descriptor, name, raw, raw_value, raw_text, raw_meaning = fields
        shown = value_text(
            descriptor, name, raw, raw_value, raw_text, raw_meaning, units[descriptor])
        return f"    {descriptor:06d}  {printable(name):<{width}}  {shown}".rstrip() + "\n"

    lines = _Formatted(line)
    for start in range(0, count, _BATCH):
        batch = values[start : min(start + _BATCH, count)]
        write("".join(map(lines.__getitem__, map(_fields, batch))))


def write_value_records(
    write: Callable[[str], object],
    values: list[_quorvel.DecodedValue],
    count: int,
    tables: _quorvel.TableSet,
) -> None:
    """Writes the first ``count`` of ``values`` as a JSON array: the attributes
    of each ``DecodedValue`` and the unit from the tables. A ``raw_value`` that
    is no finite number is written null, with a ``note`` saying so."""
    units = _Units(tables)

    def record(fields: _Fields) -> str:
        descriptor, name, raw, raw_value, raw_text, raw_meaning = fields
        item: dict[str, Any] = {
            "descriptor": descriptor,
            "name": name,
            "unit": units[descriptor],
            "raw": raw,
            "raw_value": raw_value,
            "raw_text": raw_text,
            "raw_meaning": raw_meaning,
        }
        if raw_value is not None and not math.isfinite(raw_value):
            item["raw_value"] = None
            item["note"] = NOT_FINITE_NOTE
        return json_dumps(item)

    records = _Formatted(record)
    write("[")
    for start in range(0, count, _BATCH):
        batch = values[start : min(start + _BATCH, count)]
        write((", " if start else "") + ", ".join(map(records.__getitem__, map(_fields, batch))))
    write("]")


_ATTRIBUTES = {name: operator.attrgetter(name)
               for name in ("raw", "raw_value", "raw_text", "raw_meaning")}


def write_value_columns(
    write: Callable[[str], object],
    values: list[_quorvel.DecodedValue],
    count: int,
    per_subset: int,
) -> None:
    """Writes the first ``count`` of ``values``, a compressed message's values
    subset by subset with ``per_subset`` in each, as a JSON array of columns:
    one object per element position, holding its attributes once and one array
    per attribute across the subsets it covers (``subsets``: the first and the
    last, counted from 1). An attribute that is the same in every subset is
    written once, as that value. A ``raw_value`` that is no finite number is
    written null, and the column gets a ``note``."""
    write("[")
    for column in range(min(per_subset, count)):
        shown = values[column:count:per_subset]
        first = shown[0]
        record: dict[str, Any] = {
            "descriptor": first.descriptor,
            "name": first.name,
            "unit": first.unit or None,
            "subsets": [1, len(shown)],
        }
        for attribute in ("raw", "raw_value", "raw_text", "raw_meaning"):
            found = list(map(_ATTRIBUTES[attribute], shown))
            # The same in every subset (null included): written once.
            record[attribute] = found[0] if found.count(found[0]) == len(found) else found
        try:
            text = json_dumps(record)
        except ValueError:  # a number JSON cannot hold
            numbers = record["raw_value"]
            if isinstance(numbers, list):
                record["raw_value"] = [v if v is None or math.isfinite(v) else None
                                       for v in numbers]
            else:
                record["raw_value"] = None
            record["note"] = NOT_FINITE_NOTE
            text = json_dumps(record)
        write((", " if column else "") + text)
    write("]")
