#!/usr/bin/env python3
"""Writes src/core/base/unicode_tables.inc from the Unicode Character Database.

The tables are sorted, merged code-point ranges for two sets:

- not printable: general categories Cc, Cf, Cs, Co, Cn, Zl, Zp and Zs (except
  U+0020 SPACE), together with every Grapheme_Extend code point; the quoted
  form escapes these;
- White_Space: what trimming and word splitting of table texts remove.

Input is Debian's unicode-data package (/usr/share/unicode by default). Cn,
unassigned, is everything up to U+10FFFF that UnicodeData.txt does not list,
so its "<..., First>"/"<..., Last>" pairs are expanded to the ranges they stand
for. The Unicode version is read from the file headers and written into the
output; the script refuses files of differing versions.

Usage: tools/gen_unicode_tables.py [--ucd DIR] [--output FILE] [--check]
"""

from __future__ import annotations

import argparse
import re
import sys
from pathlib import Path

MAX_CODE_POINT = 0x10FFFF
NOT_PRINTABLE_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Zl", "Zp", "Zs"}
SPACE = 0x20
RANGES_PER_LINE = 4

REPO_ROOT = Path(__file__).resolve().parent.parent
DEFAULT_UCD = Path("/usr/share/unicode")
DEFAULT_OUTPUT = REPO_ROOT / "src" / "core" / "base" / "unicode_tables.inc"


def header_version(path: Path) -> str:
    """The version in a first line like "# PropList-15.0.0.txt"."""
    with path.open(encoding="utf-8") as f:
        first = f.readline()
    match = re.match(r"#\s*" + re.escape(path.stem) + r"-(\d+\.\d+\.\d+)\.txt", first)
    if not match:
        sys.exit(f"{path}: no version in the first line {first.strip()!r}")
    return match.group(1)


def readme_version(path: Path) -> str:
    text = path.read_text(encoding="utf-8")
    match = re.search(r"for Version (\d+\.\d+\.\d+) of the Unicode Standard", text)
    if not match:
        sys.exit(f"{path}: no Unicode version found")
    return match.group(1)


def general_categories(path: Path) -> dict[int, str]:
    """Code point -> general category for every assigned code point."""
    categories: dict[int, str] = {}
    range_start: tuple[int, str] | None = None
    with path.open(encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            if len(fields) < 3:
                continue
            code = int(fields[0], 16)
            name, category = fields[1], fields[2]
            if name.endswith(", First>"):
                range_start = (code, category)
                continue
            if name.endswith(", Last>"):
                if range_start is None or range_start[1] != category:
                    sys.exit(f"{path}: unmatched range end at {code:04X}")
                for c in range(range_start[0], code + 1):
                    categories[c] = category
                range_start = None
                continue
            categories[code] = category
    if range_start is not None:
        sys.exit(f"{path}: range starting at {range_start[0]:04X} has no end")
    return categories


def property_code_points(path: Path, name: str) -> set[int]:
    """Code points listed under property `name` in a PropList-style file."""
    points: set[int] = set()
    with path.open(encoding="utf-8") as f:
        for line in f:
            data = line.split("#", 1)[0].strip()
            if not data:
                continue
            codes, prop = (part.strip() for part in data.split(";", 1))
            if prop != name:
                continue
            first, _, last = codes.partition("..")
            points.update(range(int(first, 16), int(last or first, 16) + 1))
    if not points:
        sys.exit(f"{path}: property {name} not found")
    return points


def to_ranges(points: set[int]) -> list[tuple[int, int]]:
    """Sorted, merged inclusive ranges covering exactly `points`."""
    ranges: list[tuple[int, int]] = []
    for code in sorted(points):
        if ranges and ranges[-1][1] + 1 == code:
            ranges[-1] = (ranges[-1][0], code)
        else:
            ranges.append((code, code))
    return ranges


def format_table(name: str, description: str, ranges: list[tuple[int, int]]) -> str:
    lines = [f"// {description}: {len(ranges)} ranges.", f"constexpr CodePointRange {name}[] = {{"]
    for i in range(0, len(ranges), RANGES_PER_LINE):
        chunk = ranges[i : i + RANGES_PER_LINE]
        lines.append("    " + " ".join(f"{{0x{a:04X}, 0x{b:04X}}}," for a, b in chunk))
    lines.append("};")
    return "\n".join(lines) + "\n"


def render(ucd: Path) -> str:
    versions = {
        "ReadMe.txt": readme_version(ucd / "ReadMe.txt"),
        "PropList.txt": header_version(ucd / "PropList.txt"),
        "DerivedCoreProperties.txt": header_version(ucd / "DerivedCoreProperties.txt"),
    }
    if len(set(versions.values())) != 1:
        sys.exit(f"{ucd}: files of different Unicode versions: {versions}")
    version = versions["ReadMe.txt"]

    categories = general_categories(ucd / "UnicodeData.txt")
    grapheme_extend = property_code_points(ucd / "DerivedCoreProperties.txt", "Grapheme_Extend")
    white_space = property_code_points(ucd / "PropList.txt", "White_Space")

    not_printable = set(grapheme_extend)
    for code in range(MAX_CODE_POINT + 1):
        category = categories.get(code)  # None: unassigned, category Cn
        if category is None or category in NOT_PRINTABLE_CATEGORIES:
            not_printable.add(code)
    not_printable.discard(SPACE)

    return (
        "// Generated by tools/gen_unicode_tables.py from the Unicode Character\n"
        f"// Database {version}; do not edit. Include where CodePointRange\n"
        "// {char32_t first; char32_t last;} (inclusive) is declared.\n"
        "\n"
        f'constexpr char kUnicodeVersion[] = "{version}";\n'
        "\n"
        + format_table(
            "kNotPrintableRanges",
            "General categories Cc Cf Cs Co Cn Zl Zp Zs except U+0020, and Grapheme_Extend",
            to_ranges(not_printable),
        )
        + "\n"
        + format_table("kWhiteSpaceRanges", "White_Space", to_ranges(white_space))
    )


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ucd", type=Path, default=DEFAULT_UCD, help="UCD directory")
    parser.add_argument("--output", type=Path, default=DEFAULT_OUTPUT, help="file to write")
    parser.add_argument(
        "--check", action="store_true", help="fail if the output file is not up to date"
    )
    args = parser.parse_args()

    text = render(args.ucd)
    if args.check:
        current = args.output.read_text(encoding="utf-8") if args.output.exists() else None
        if current != text:
            print(f"{args.output} is out of date; rerun {Path(__file__).name}", file=sys.stderr)
            return 1
        return 0
    args.output.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
