"""Helpers for the expansion and table-selection tests: a writer for small
ecCodes-style table directories, a reader of "sequence.def" files, and a
reference expander written from the expansion rules alone.

The reference expander shares no code with the module: it is the oracle the
expansion tests compare against, so it is kept short enough to check by eye.
Nothing here holds tests.
"""

from __future__ import annotations

import os
import re
from pathlib import Path
from typing import Iterable, Mapping, Optional, Sequence

import pytest

ERROR_PREFIX = "csv/table parse error: "
ASSOCIATED_FIELD_CODE = 999999
MAX_DEPTH = 64
MAX_STEPS = 2 ** 18

DEFINITIONS_ROOT = Path("/usr/share/eccodes/definitions")
# Real BUFR files and tables live beside the repository, never inside it.
SHARED_DATA = Path(__file__).resolve().parents[2].parent / "shared" / "data"


def definitions_path(*parts: str) -> Path:
    """A path under the Debian definitions root; skips when it is absent."""
    path = DEFINITIONS_ROOT.joinpath(*parts)
    if not path.exists():
        pytest.skip(f"ecCodes definitions not installed: {path}")
    return path


def version_directory(version: int) -> Path:
    return definitions_path("bufr", "tables", "0", "wmo", str(version))


def shared_data_path(*parts: str) -> Path:
    path = SHARED_DATA.joinpath(*parts)
    if not path.exists():
        pytest.skip(f"shared data not available: {path}")
    return path


# ---- Table directories ---------------------------------------------------------------

def element_row(code: int, name: Optional[str] = None) -> str:
    name = f"ELEMENT {code:06}" if name is None else name
    return f"{code:06}|element{code}|long|{name}|Numeric|0|0|8|Numeric|0|3\n"


def sequence_line(code: int, members: Iterable[int]) -> str:
    return f'"{code:06}" = [ ' + ", ".join(f"{m:06}" for m in members) + " ]\n"


def write_table_directory(directory: Path, elements: Optional[Mapping[int, str]] = None,
                          sequences: Optional[Mapping[int, Sequence[int]]] = None,
                          codetables: Optional[Mapping[int, Mapping[int, str]]] = None,
                          *, element_file: bool = True, sequence_file: bool = True) -> str:
    """Writes an ecCodes-style table directory and returns its path as str.

    `elements` maps codes to names, `sequences` codes to members and
    `codetables` element codes to {raw: meaning}. `element_file` or
    `sequence_file` False leaves that file out; `codetables` None leaves the
    "codetables" directory out.
    """
    directory.mkdir(parents=True, exist_ok=True)
    if element_file:
        rows = "".join(element_row(code, name) for code, name in (elements or {}).items())
        (directory / "element.table").write_text(
            "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale"
            "|crex_width\n" + rows)
    if sequence_file:
        (directory / "sequence.def").write_text(
            "".join(sequence_line(code, members) for code, members in (sequences or {}).items()))
    if codetables is not None:
        (directory / "codetables").mkdir(exist_ok=True)
        for code, entries in codetables.items():
            lines = "".join(f"{raw} {raw} {meaning}\n" for raw, meaning in entries.items())
            (directory / "codetables" / f"{code}.table").write_text(lines)
    return str(directory)


# ---- Reading "sequence.def" independently --------------------------------------------

_ENTRY = re.compile(r'"?\s*(\d+)\s*"?\s*=\s*\[([^\]]*)\]')


def read_sequences(path: os.PathLike | str) -> dict[int, list[int]]:
    """The sequences of an ecCodes "sequence.def" whose entries are well formed
    (quoted six-digit keys, bracketed member lists, '#' comment lines). A later
    entry for the same code replaces the earlier one."""
    text = Path(path).read_text(encoding="utf-8")
    text = "\n".join(line for line in text.splitlines() if not line.lstrip().startswith("#"))
    sequences: dict[int, list[int]] = {}
    for key, members in _ENTRY.findall(text):
        sequences[int(key)] = [int(m) for m in members.split(",") if m.strip()]
    return sequences


def read_element_codes(path: os.PathLike | str) -> dict[int, str]:
    """Code to name for every data row of an ecCodes "element.table"."""
    names: dict[int, str] = {}
    for line in Path(path).read_text(encoding="utf-8").splitlines():
        if not line or line.startswith("#"):
            continue
        fields = line.split("|")
        names[int(fields[0])] = fields[3]
    return names


# ---- The reference expander ----------------------------------------------------------

class ReferenceFailure(Exception):
    """The expansion fails; `str()` is the message Python should see."""


class ReferenceGaveUp(Exception):
    """The expansion visits more descriptors than the caller's budget."""


def reference_expand(sequences: Mapping[int, Sequence[int]], codes: Sequence[int],
                     budget: int = MAX_STEPS) -> list[int]:
    """Flattens `codes` through `sequences`.

    Raises ReferenceFailure with the expected message, or ReferenceGaveUp once
    more than `budget` descriptors (fewer than MAX_STEPS) have been visited.
    """
    output: list[int] = []
    width = 0
    visited = 0

    def walk(items: Sequence[int], depth: int) -> None:
        nonlocal width, visited
        if depth > MAX_DEPTH:
            raise ReferenceFailure(ERROR_PREFIX + "sequence expansion exceeded recursion depth")
        position = 0
        while position < len(items):
            visited += 1
            if visited > MAX_STEPS:
                raise ReferenceFailure(
                    ERROR_PREFIX + f"sequence expansion exceeded {MAX_STEPS} descriptors")
            if visited > budget:
                raise ReferenceGaveUp()
            code = items[position]
            f, x, y = code // 100000, code // 1000 % 100, code % 1000
            position += 1
            if f == 0:
                if width and x != 31:
                    output.append(ASSOCIATED_FIELD_CODE)
                output.append(code)
            elif f == 1:
                rest = items[position:]
                count = y % 256
                if x == 0 or len(rest) < x:
                    raise ReferenceFailure(f"unsupported replication descriptor {code:06}")
                if count:
                    for _ in range(count):
                        walk(rest[:x], depth + 1)
                    position += x
                else:
                    if len(rest) < x + 1:
                        raise ReferenceFailure(
                            f"delayed replication descriptor {code:06} is missing its "
                            "replication factor or replicated descriptors")
                    walk(rest[:x + 1], depth + 1)
                    position += x + 1
            elif f == 2:
                if x == 4:
                    width = y % 256
                elif x not in (1, 2, 6, 7, 8):
                    output.append(code)
            elif f == 3:
                if code not in sequences:
                    raise ReferenceFailure(f"descriptor {code:06} was not found in Table D")
                walk(sequences[code], depth + 1)
            else:
                raise ReferenceFailure(ERROR_PREFIX + f"invalid descriptor {code:06}")

    walk(list(codes), 0)
    return output


def reference_outcome(sequences: Mapping[int, Sequence[int]], codes: Sequence[int],
                      budget: int = MAX_STEPS):
    """("ok", list), ("error", message) or ("unknown", None) past the budget."""
    try:
        return "ok", reference_expand(sequences, codes, budget)
    except ReferenceFailure as failure:
        return "error", str(failure)
    except ReferenceGaveUp:
        return "unknown", None


def module_outcome(expand, codes: Sequence[int]):
    """("ok", list) or ("error", message) from one of the module's entry points."""
    try:
        return "ok", expand(codes)
    except ValueError as failure:
        return "error", str(failure)
