#!/usr/bin/env python3
"""Writes large BUFR edition-4 messages for the decode benchmarks.

    tools/make_large_messages.py OUTDIR [--definitions ROOT] [--seed N] [--scale F]

Four messages, one per file, each built from descriptors of the WMO master
tables (version 37) as an ecCodes definitions root holds them:

- synop_uncompressed.bufr: 4000 uncompressed subsets of a flat SYNOP-like
  report with a station name, 260 000 values;
- sounding_uncompressed.bufr: 2000 uncompressed subsets of a TEMP-like
  report, each with its own delayed replication count of levels (10 to 30),
  about 440 000 values;
- radiance_compressed.bufr: 2500 compressed subsets of a satellite-like
  report with a delayed replication of 200 channels, 1 047 500 values;
- scatter_compressed.bufr: 20000 compressed subsets of 55 columns, with a
  text column that differs between subsets, constant columns, columns
  mostly missing and one entirely missing, 1 100 000 values.

`--scale` multiplies the subset counts (0.01 gives small files for a quick
run). Values are random but reproducible from `--seed`; their spread is kept
moderate so that compressed columns need realistic increment widths.

Section 4 is laid out with numpy, one array of field values and one of
widths, packed most significant bit first; sections 0 to 5 come from the
test suite's message builder. When python3-eccodes is installed each file
is decoded once with it and the value count checked. The output is not
meant to be committed.
"""

from __future__ import annotations

import argparse
import re
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, List, Sequence, Tuple

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "py"))
from builder import build_message  # noqa: E402

MASTER_VERSION = 37
CENTRE = 98
DEFAULT_DEFINITIONS = "/usr/share/eccodes/definitions"
TEXT_UNIT = "CCITT IA5"


@dataclass(frozen=True)
class Element:
    code: int
    unit: str
    scale: int
    reference: int
    width: int

    @property
    def is_text(self) -> bool:
        return self.unit == TEXT_UNIT


class Tables:
    """Table B and Table D of one master version, read from the plain files."""

    def __init__(self, directory: Path) -> None:
        self.elements: Dict[int, Element] = {}
        for line in (directory / "element.table").read_text(encoding="utf-8").splitlines():
            if not line or line.startswith("#"):
                continue
            fields = line.split("|")
            self.elements[int(fields[0])] = Element(int(fields[0]), fields[4], int(fields[5]),
                                                    int(fields[6]), int(fields[7]))
        text = (directory / "sequence.def").read_text(encoding="utf-8")
        self.sequences: Dict[int, List[int]] = {
            int(code): [int(member) for member in re.findall(r"\d+", members)]
            for code, members in re.findall(r'"(\d{6})"\s*=\s*\[([^\]]*)\]', text)}

    def expand(self, descriptors: Sequence[int], counts: Sequence[int]) -> List[Element]:
        """The elements read for one subset, delayed replications taking
        their counts from `counts` in order. Operators are not used here."""
        pending = list(counts)
        out: List[Element] = []

        def walk(items: Sequence[int]) -> None:
            i = 0
            while i < len(items):
                code = items[i]
                f, x, y = code // 100000, code // 1000 % 100, code % 1000
                if f == 0:
                    out.append(self.elements[code])
                    i += 1
                elif f == 3:
                    walk(self.sequences[code])
                    i += 1
                elif f == 1 and y:
                    for _ in range(y):
                        walk(items[i + 1:i + 1 + x])
                    i += 1 + x
                elif f == 1:
                    count = pending.pop(0)
                    out.append(self.elements[items[i + 1]])
                    for _ in range(count):
                        walk(items[i + 2:i + 2 + x])
                    i += 2 + x
                else:
                    raise ValueError(f"operator {code:06} is not supported here")

        walk(descriptors)
        return out


# ---- Section 4 -------------------------------------------------------------------------

class Fields:
    """Field values and widths in data order, kept as numpy chunks."""

    def __init__(self) -> None:
        self._values: List[np.ndarray] = []
        self._widths: List[np.ndarray] = []

    def add(self, values, widths) -> None:
        values = np.asarray(values, dtype=np.uint64).ravel()
        widths = np.broadcast_to(np.asarray(widths, dtype=np.int64), values.shape)
        self._values.append(values)
        self._widths.append(np.array(widths, dtype=np.int64))

    def add_text(self, text: bytes) -> None:
        self.add(np.frombuffer(text, dtype=np.uint8), 8)

    def pack(self) -> bytes:
        """The fields most significant bit first, padded to an even octet
        count (section 4 is then an even number of octets long)."""
        values = np.concatenate(self._values) if self._values else np.zeros(0, np.uint64)
        widths = np.concatenate(self._widths) if self._widths else np.zeros(0, np.int64)
        if np.any(widths > 64) or np.any(widths < 0):
            raise ValueError("field widths must lie in 0..64")
        keep = widths > 0
        values, widths = values[keep], widths[keep]
        limits = np.where(widths == 64, np.uint64(2**64 - 1),
                          (np.uint64(1) << widths.astype(np.uint64)) - np.uint64(1))
        if np.any(values > limits):
            raise ValueError("a field value does not fit its width")
        total = int(widths.sum())
        octets = -(-total // 8)
        octets += octets % 2
        bits = np.zeros(octets * 8, dtype=np.uint8)
        offsets = np.cumsum(widths) - widths
        for j in range(int(widths.max(initial=0))):
            sel = widths > j
            shift = (widths[sel] - 1 - j).astype(np.uint64)
            bits[offsets[sel] + j] = ((values[sel] >> shift) & np.uint64(1)).astype(np.uint8)
        return np.packbits(bits).tobytes()


def raw_range(element: Element) -> int:
    """The largest raw value a present value may take (all ones is missing)."""
    return (1 << element.width) - 2


class ValueSource:
    """Reproducible raw values for elements, moderate in spread."""

    def __init__(self, seed: int) -> None:
        self.random = np.random.default_rng(seed)

    def column(self, element: Element, count: int, missing: float = 0.0,
               spread_bits: int = 10) -> np.ndarray:
        """`count` raw values of `element`; all ones where missing."""
        top = raw_range(element)
        spread = min(top, (1 << spread_bits) - 1)
        base = int(self.random.integers(0, top - spread + 1))
        raw = base + self.random.integers(0, spread + 1, size=count, dtype=np.int64)
        raw = raw.astype(np.uint64)
        if missing:
            raw[self.random.random(count) < missing] = np.uint64((1 << element.width) - 1)
        return raw

    def names(self, count: int, octets: int) -> List[bytes]:
        letters = np.frombuffer(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ", dtype=np.uint8)
        lengths = self.random.integers(3, octets + 1, size=count)
        picks = letters[self.random.integers(0, 26, size=(count, octets))]
        return [bytes(row[:n]).ljust(octets) for row, n in zip(picks, lengths)]


# ---- Messages --------------------------------------------------------------------------

def uncompressed(tables: Tables, source: ValueSource, descriptors: Sequence[int],
                 counts_per_subset: Sequence[Sequence[int]]) -> Tuple[bytes, int]:
    """An uncompressed section 4: every subset's elements in turn. Returns
    the packed data and the number of values."""
    fields = Fields()
    total = 0
    subsets = len(counts_per_subset)
    # One random draw per distinct element for all subsets at once keeps this fast.
    layouts = [tables.expand(descriptors, counts) for counts in counts_per_subset]
    pools: Dict[int, np.ndarray] = {}
    cursor: Dict[int, int] = {}
    for layout in layouts:
        for element in layout:
            cursor[element.code] = cursor.get(element.code, 0) + 1
    for code, need in cursor.items():
        element = tables.elements[code]
        if not element.is_text:
            pools[code] = source.column(element, need, missing=0.05)
    names = source.names(subsets * 2, 20)
    cursor = {code: 0 for code in cursor}
    text_index = 0
    for counts, layout in zip(counts_per_subset, layouts):
        pending = list(counts)
        values = np.zeros(len(layout), dtype=np.uint64)
        widths = np.zeros(len(layout), dtype=np.int64)
        chunks: List[Tuple[int, bytes]] = []
        for k, element in enumerate(layout):
            if element.is_text:
                chunks.append((k, names[text_index][:element.width // 8]))
                text_index += 1
                continue
            if element.code // 1000 == 31 and pending:
                raw = pending.pop(0)
            else:
                raw = pools[element.code][cursor[element.code]]
                cursor[element.code] += 1
            values[k], widths[k] = raw, element.width
        start = 0
        for k, text in chunks:
            fields.add(values[start:k], widths[start:k])
            fields.add_text(text)
            start = k + 1
        fields.add(values[start:], widths[start:])
        total += len(layout)
    return fields.pack(), total


def compressed_column(fields: Fields, element: Element, raw: np.ndarray) -> None:
    """One compressed numeric column: reference, increment width, increments."""
    ones = (1 << element.width) - 1
    present = raw != np.uint64(ones)
    if not present.any():
        fields.add([ones, 0], [element.width, 6])
        return
    low = int(raw[present].min())
    high = int(raw[present].max())
    if high == low and present.all():
        fields.add([low, 0], [element.width, 6])
        return
    # All ones in the increment width marks a missing value, so the largest
    # present increment must stay below it.
    nbinc = (high - low + 1).bit_length()
    increments = np.where(present, raw - np.uint64(low), np.uint64((1 << nbinc) - 1))
    fields.add([low, nbinc], [element.width, 6])
    fields.add(increments, nbinc)


def compressed_text(fields: Fields, element: Element, texts: Sequence[bytes]) -> None:
    octets = element.width // 8
    if len(set(texts)) == 1:
        fields.add_text(texts[0][:octets].ljust(octets))
        fields.add([0], [6])
        return
    fields.add_text(b"\0" * octets)
    fields.add([octets], [6])
    fields.add_text(b"".join(text[:octets].ljust(octets) for text in texts))


def compressed(tables: Tables, source: ValueSource, descriptors: Sequence[int],
               counts: Sequence[int], subsets: int,
               missing: Dict[int, float], constant: Sequence[int]) -> Tuple[bytes, int]:
    """A compressed section 4; every subset shares the replication counts."""
    fields = Fields()
    layout = tables.expand(descriptors, counts)
    pending = list(counts)
    for element in layout:
        if element.is_text:
            compressed_text(fields, element, source.names(subsets, element.width // 8))
        elif element.code // 1000 == 31 and pending:
            fields.add([pending.pop(0), 0], [element.width, 6])
        elif element.code in constant:
            value = int(source.column(element, 1)[0])
            fields.add([value, 0], [element.width, 6])
        else:
            raw = source.column(element, subsets, missing=missing.get(element.code, 0.01),
                                spread_bits=min(element.width - 1, 12))
            compressed_column(fields, element, raw)
    return fields.pack(), len(layout) * subsets


SYNOP = [301001, 1015, 2001, 301011, 301012, 301021, 7030, 7031, 10004, 10051, 10061, 10063,
         10062, 7004, 10009, 7032, 12101, 12103, 13003, 7032, 20001, 13023, 13011, 7032, 20010,
         8002, 20011, 20013, 20012, 20012, 20012, 12111, 12112, 11001, 11002, 11041, 11043,
         14031, 13013, 12113, 20003, 20004, 20005, 22042, 13012, 11011, 11012, 11016, 11017,
         2004, 13033, 14002, 14004, 14016, 14028, 14029, 14030, 12049, 8021, 4024]
SOUNDING = [301001, 1011, 2011, 2013, 2014, 2003, 8021, 301011, 301013, 301021, 7030, 7031,
            110000, 31002, 4086, 8042, 7004, 10009, 5015, 6015, 12101, 12103, 11001, 11002]
RADIANCE = [1007, 2019, 1033, 2020, 301011, 301013, 301021, 7024, 5021, 7025, 5022, 33079,
            8012, 102000, 31002, 5042, 12163]
SCATTER = [1007, 1008, 2019, 301011, 301013, 301021, 7024, 5021, 7025, 5022, 8012, 8029,
           13040, 21062, 21063, 21064, 21065, 21066, 21067, 21068, 21069, 21070, 21071, 21072,
           21073, 21076, 21077, 21078, 21079, 21080, 21081, 21082, 21083, 21084, 21085, 21086,
           21087, 21101, 21102, 21103, 21104, 21105, 21106, 21107, 21118, 21119, 21120, 40001,
           40002, 33060]


def build(name: str, descriptors: Sequence[int], subsets: int, compressed_flag: bool,
          data: bytes, category: int) -> bytes:
    return build_message(descriptors=descriptors, number_of_subsets=subsets,
                         compressed=compressed_flag, data=data, data_category=category,
                         originating_centre=CENTRE,
                         master_tables_version_number=MASTER_VERSION, typical_year=2024,
                         typical_month=3, typical_day=1, typical_hour=12).data


def make_all(tables: Tables, seed: int, scale: float) -> Dict[str, Tuple[bytes, int, int]]:
    """name -> (message, subsets, values)."""
    source = ValueSource(seed)
    made = {}

    def count(n: int) -> int:
        return max(1, min(65535, round(n * scale)))

    n = count(4000)
    data, values = uncompressed(tables, source, SYNOP, [[]] * n)
    made["synop_uncompressed.bufr"] = (build("synop", SYNOP, n, False, data, 0), n, values)

    n = count(2000)
    levels = [[int(k)] for k in source.random.integers(10, 31, size=n)]
    data, values = uncompressed(tables, source, SOUNDING, levels)
    made["sounding_uncompressed.bufr"] = (build("sounding", SOUNDING, n, False, data, 2), n,
                                          values)

    n = count(2500)
    data, values = compressed(tables, source, RADIANCE, [200], n, {12163: 0.02},
                              constant=[1007, 2019, 1033, 2020, 4001, 4002, 4003])
    made["radiance_compressed.bufr"] = (build("radiance", RADIANCE, n, True, data, 21), n,
                                        values)

    n = count(20000)
    mostly_missing = {code: 0.9 for code in (21118, 21119, 21120, 40001)}
    mostly_missing[40002] = 1.0
    data, values = compressed(tables, source, SCATTER, [], n, mostly_missing,
                              constant=[1007, 2019, 4001, 4002, 4003, 8029])
    made["scatter_compressed.bufr"] = (build("scatter", SCATTER, n, True, data, 12), n,
                                       values)
    return made


def eccodes_count(message: bytes):
    """ecCodes' number of values, or None without python3-eccodes."""
    try:
        import eccodes
    except ImportError:
        return None
    handle = eccodes.codes_new_from_message(message)
    try:
        eccodes.codes_set(handle, "unpack", 1)
        return eccodes.codes_get_size(handle, "numericValues")
    finally:
        eccodes.codes_release(handle)


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("outdir", type=Path)
    parser.add_argument("--definitions", default=DEFAULT_DEFINITIONS,
                        help="ecCodes-style definitions root (default %(default)s)")
    parser.add_argument("--seed", type=int, default=20240301)
    parser.add_argument("--scale", type=float, default=1.0,
                        help="multiplies every subset count (default %(default)s)")
    args = parser.parse_args(argv)
    table_dir = Path(args.definitions) / "bufr" / "tables" / "0" / "wmo" / str(MASTER_VERSION)
    if not table_dir.is_dir():
        parser.error(f"no master tables at {table_dir}")
    tables = Tables(table_dir)
    args.outdir.mkdir(parents=True, exist_ok=True)
    status = 0
    for name, (message, subsets, values) in make_all(tables, args.seed, args.scale).items():
        path = args.outdir / name
        path.write_bytes(message)
        checked = eccodes_count(message)
        note = "" if checked is None else f", ecCodes reads {checked}"
        if checked is not None and checked != values:
            status = 1
        print(f"{path}: {len(message)} octets, {subsets} subsets, {values} values{note}")
    return status


if __name__ == "__main__":
    sys.exit(main())
