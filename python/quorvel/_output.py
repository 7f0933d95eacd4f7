"""How the command line writes messages and values, as text and as JSON."""

from __future__ import annotations

import json
from typing import Any

import _quorvel

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


def listing_line(path: str, slot_index: int, message: _quorvel.BufrMessage) -> str:
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
        f"{path}:{slot_index}  centre={centre:<7} category={category:<9} "
        f"master={message.master_tables_version_number:<3} "
        f"local={message.local_tables_version_number:<3} {date}  "
        f"subsets={message.number_of_subsets:<5} "
        f"{'compressed  ' if message.compressed_data else 'uncompressed'}  {shown}"
    )


def header_record(message: _quorvel.BufrMessage) -> dict[str, Any]:
    """Every header field of a message, by its attribute name."""
    return {name: getattr(message, name) for name in _quorvel.BUFR_MESSAGE_FIELDS}


def format_number(number: float) -> str:
    """Whole numbers without a fraction, others in the shortest form that reads back."""
    if number.is_integer() and abs(number) < 1e15:
        return str(int(number))
    return repr(number)


def _is_table_unit(unit: str) -> bool:
    return unit.lower() in ("code table", "flag table")


def value_text(value: _quorvel.DecodedValue, unit: str | None) -> str:
    """The value column of a dump line."""
    if value.name == _quorvel.OPERATOR_NAME and value.descriptor // 100000 == 2:
        return f"[{_OPERATOR_MARKERS.get(value.descriptor, 'operator marker')}]"
    if value.raw_text is not None:
        return json.dumps(value.raw_text, ensure_ascii=False)
    if value.raw is None or value.raw_value is None:
        text = "missing"
    else:
        text = format_number(value.raw_value)
        if unit and not _is_table_unit(unit) and unit.lower() not in ("numeric", "ccitt ia5"):
            text += f" {unit}"
    if unit and _is_table_unit(unit):
        kind = unit.lower()
        return f"{text} ({kind}: {value.raw_meaning})" if value.raw_meaning else f"{text} ({kind})"
    if value.raw_meaning:
        text += f" ({value.raw_meaning})"
    return text


def value_lines(values: list[_quorvel.DecodedValue], units: list[str | None]) -> list[str]:
    """One line per value: descriptor, name, value with unit and meaning."""
    width = min(max((len(value.name) for value in values), default=0), NAME_COLUMN_LIMIT)
    return [
        f"    {fxy(value.descriptor)}  {value.name:<{width}}  {value_text(value, unit)}".rstrip()
        for value, unit in zip(values, units)
    ]


def value_record(value: _quorvel.DecodedValue, unit: str | None) -> dict[str, Any]:
    """A value for JSON: the attributes of ``DecodedValue`` and the unit from the tables."""
    return {
        "descriptor": value.descriptor,
        "name": value.name,
        "unit": unit,
        "raw": value.raw,
        "raw_value": value.raw_value,
        "raw_text": value.raw_text,
        "raw_meaning": value.raw_meaning,
    }


def units_of(values: list[_quorvel.DecodedValue], tables: _quorvel.TableSet) -> list[str | None]:
    """The Table B unit of each value; None for markers and associated fields."""
    known: dict[int, str | None] = {}
    units: list[str | None] = []
    for value in values:
        code = value.descriptor
        if code == _quorvel.ASSOCIATED_FIELD_CODE or code // 100000 != 0:
            units.append(None)
            continue
        if code not in known:
            element = tables.get_element(code)
            known[code] = element.unit if element is not None else None
        units.append(known[code])
    return units
