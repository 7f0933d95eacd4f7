#!/usr/bin/env python3
"""Writes examples/synop.bufr: two small SYNOP-like edition-4 messages behind
a bulletin heading line, one station report each.

The stations and readings are made-up example values, not observations. The
data widths, scales and reference values are those of WMO master table
version 37 (ecCodes' bufr/tables/0/wmo/37/element.table), the version the
messages declare.

Usage: tools/make_sample.py [OUTPUT]   (default: examples/synop.bufr)
"""

from __future__ import annotations

import sys
from decimal import Decimal
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "py"))

from builder import BitWriter, build_message  # noqa: E402

MASTER_TABLES_VERSION = 37

# Table B entries used, version 37: code -> (name, scale, reference, width).
ELEMENTS = {
    1001: ("WMO block number", 0, 0, 7),
    1002: ("WMO station number", 0, 0, 10),
    4001: ("year", 0, 0, 12),
    4002: ("month", 0, 0, 4),
    4003: ("day", 0, 0, 6),
    4004: ("hour", 0, 0, 5),
    4005: ("minute", 0, 0, 6),
    5001: ("latitude (high accuracy), deg", 5, -9000000, 25),
    6001: ("longitude (high accuracy), deg", 5, -18000000, 26),
    12101: ("air temperature, K", 2, 0, 16),
}

# Section 3 lists these; each sequence expands through Table D.
DESCRIPTORS = [301001, 301011, 301012, 301021, 12101]
EXPANDED = [1001, 1002, 4001, 4002, 4003, 4004, 4005, 5001, 6001, 12101]

# One report per message, in expanded-descriptor order.
STATIONS = [
    {
        1001: 3, 1002: 772,
        4001: 2024, 4002: 3, 4003: 1, 4004: 12, 4005: 0,
        5001: Decimal("51.47900"), 6001: Decimal("-0.44900"),
        12101: Decimal("284.35"),
    },
    {
        1001: 6, 1002: 260,
        4001: 2024, 4002: 3, 4003: 1, 4004: 12, 4005: 0,
        5001: Decimal("52.09900"), 6001: Decimal("5.18000"),
        12101: Decimal("279.65"),
    },
]

# A WMO abbreviated heading line, as bulletins put before their messages.
HEADING = b"ISMD01 ZZZZ 011200\r\r\n"


def encode_value(code: int, value: int | Decimal) -> tuple[int, int]:
    """The raw value and width of one element: value * 10^scale - reference."""
    _, scale, reference, width = ELEMENTS[code]
    scaled = Decimal(value).scaleb(scale)
    if scaled != scaled.to_integral_value():
        raise ValueError(f"{value} has more than {scale} decimals for {code:06}")
    return int(scaled) - reference, width


def encode_report(report: dict[int, int | Decimal]) -> bytes:
    writer = BitWriter()
    for code in EXPANDED:
        writer.write(*encode_value(code, report[code]))
    return writer.to_bytes()


def sample_bytes() -> bytes:
    messages = []
    for report in STATIONS:
        messages.append(
            build_message(
                master_table_number=0,
                originating_centre=0,
                originating_subcentre=0,
                data_category=0,
                master_tables_version_number=MASTER_TABLES_VERSION,
                local_tables_version_number=0,
                typical_year=report[4001],
                typical_month=report[4002],
                typical_day=report[4003],
                typical_hour=report[4004],
                typical_minute=report[4005],
                number_of_subsets=1,
                observed=True,
                compressed=False,
                descriptors=DESCRIPTORS,
                data=encode_report(report),
            ).data
        )
    return HEADING + b"".join(messages)


def main(argv: list[str]) -> int:
    output = Path(argv[1]) if len(argv) > 1 else ROOT / "examples" / "synop.bufr"
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_bytes(sample_bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
