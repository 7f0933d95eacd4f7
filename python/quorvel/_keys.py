"""Header keys under the names ecCodes users know, for ``quorvel ls -w/-p``.

Each key is shown as ecCodes' tools show it: integers in decimal, flags as 0
or 1, the typical date as YYYYMMDD and the time as HHMMSS. Selections compare
those texts.
"""

from __future__ import annotations

from typing import Callable

import _quorvel

Getter = Callable[[_quorvel.Message], object]


def _date(message: _quorvel.Message) -> str:
    # Some encoders write the year of the century where edition 4 wants the
    # year; ecCodes' typicalDate reads such a year as 20yy, and so do we.
    year = message.typical_year + (2000 if message.typical_year < 100 else 0)
    return f"{year:04}{message.typical_month:02}{message.typical_day:02}"


def _time(message: _quorvel.Message) -> str:
    return f"{message.typical_hour:02}{message.typical_minute:02}{message.typical_second:02}"


def _attribute(name: str) -> Getter:
    return lambda message: getattr(message, name)


# ecCodes key: how it is had from a Message.
KEYS: dict[str, Getter] = {
    "edition": _attribute("edition"),
    "totalLength": _attribute("total_length"),
    "offset": _attribute("offset"),
    "masterTableNumber": _attribute("master_table_number"),
    "bufrHeaderCentre": _attribute("originating_centre"),
    "bufrHeaderSubCentre": _attribute("originating_subcentre"),
    "updateSequenceNumber": _attribute("update_sequence_number"),
    "dataCategory": _attribute("data_category"),
    "internationalDataSubCategory": _attribute("international_data_subcategory"),
    "dataSubCategory": _attribute("local_data_subcategory"),
    "masterTablesVersionNumber": _attribute("master_tables_version_number"),
    "localTablesVersionNumber": _attribute("local_tables_version_number"),
    "typicalYear": _attribute("typical_year"),
    "typicalMonth": _attribute("typical_month"),
    "typicalDay": _attribute("typical_day"),
    "typicalHour": _attribute("typical_hour"),
    "typicalMinute": _attribute("typical_minute"),
    "typicalSecond": _attribute("typical_second"),
    "typicalDate": _date,
    "typicalTime": _time,
    "numberOfSubsets": _attribute("number_of_subsets"),
    "observedData": _attribute("observed_data"),
    "compressedData": _attribute("compressed_data"),
}


def key_text(message: _quorvel.Message, key: str) -> str:
    value = KEYS[key](message)
    return str(int(value)) if isinstance(value, bool) else str(value)


def _known(key: str) -> str:
    if key not in KEYS:
        raise ValueError(f"unknown key {key!r}; the keys are: {', '.join(KEYS)}")
    return key


def parse_keys(text: str) -> list[str]:
    """``key,key,...``; raises ValueError naming an unknown key."""
    return [_known(key.strip()) for key in text.split(",") if key.strip()]


Condition = tuple[str, bool, frozenset[str]]  # key, wanted (= or !=), values


def parse_conditions(text: str) -> list[Condition]:
    """``key=v1/v2,key!=v``: every condition must hold; ``/`` separates the
    values a key may (=) or may not (!=) take."""
    conditions = []
    for part in text.split(","):
        if not part.strip():
            continue
        key, sign, values = part.partition("=")
        if not sign:
            raise ValueError(f"expected key=value or key!=value, got {part!r}")
        wanted = not key.endswith("!")
        conditions.append((_known(key.rstrip("!").strip()), wanted,
                           frozenset(v.strip() for v in values.split("/"))))
    return conditions


def selected(message: _quorvel.Message, conditions: list[Condition]) -> bool:
    return all((key_text(message, key) in values) == wanted for key, wanted, values in conditions)
