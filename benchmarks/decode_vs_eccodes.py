#!/usr/bin/env python3
"""Decoding speed of _quorvel against python3-eccodes, in values per second.

    PYTHONPATH=build/<dir> benchmarks/decode_vs_eccodes.py [PATH ...] [options]

Each PATH is a BUFR file or a directory of them (tools/make_large_messages.py
writes suitable large ones); without --no-shared the edition-4 message files
of ../shared/data/bufr are added when that folder exists. Only the first
message of a file is timed, as the decode functions decode only that one.

Per file, with the tables loaded once beforehand by
`TableSet.from_definitions(root, message)`:

- ours: `decode_values_with_tables(message, tables)`, the list dropped at
  once (so its objects are freed inside the timing);
- ours+read: the same, then `.data` read from every value, which builds the
  float or text objects a caller would use;
- ours+defs: `decode_values_with_definitions(message, root)`, which chooses
  the tables on every call through the module's table cache (a hit checks
  the table files' stamps), as a caller passing only a root does;
- ecCodes: a handle from the message octets, unpack=1, "numericValues" and
  "stringValues" read, the handle released.

Each figure is the median of --repeat runs; a run repeats the call until it
takes at least --min-time seconds. Time is the process's CPU time (user and
system: first touches of fresh memory cost system time), so other work on
the machine disturbs it less; --wall takes wall-clock time instead. The
garbage collector is paused while timing. Values per second count the values each decoder returns (ours:
list length; ecCodes: numericValues length); the ratio is ours / ecCodes,
and the defs ratio ours+defs / ecCodes.

Freed memory goes back to the system between calls, and first touches of
fresh pages can dominate large messages where page faults are dear (virtual
machines). Running with
GLIBC_TUNABLES=glibc.malloc.trim_threshold=2000000000:glibc.malloc.mmap_threshold=2000000000
keeps it in the process and shows more of the decoders' own cost.

With --profile, each compressed message of at least 10000 values is decoded
under `perf record` and the samples are split into decoding (the core of the
extension), Python objects (the extension's Python layer and the
interpreter), the C and C++ runtime, and the kernel (page faults of fresh
memory, mostly): an estimate of the share of time spent on objects.
"""

from __future__ import annotations

import argparse
import gc
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, List, Optional

HERE = Path(__file__).resolve()
sys.path.insert(0, str(HERE.parents[1] / "tests" / "py"))
from eccodes_reference import edition, split_messages  # noqa: E402

import _quorvel  # noqa: E402

try:
    import eccodes
except ImportError:
    eccodes = None

SHARED_BUFR = HERE.parents[2] / "shared" / "data" / "bufr"
DEFAULT_DEFINITIONS = "/usr/share/eccodes/definitions"
NOT_MESSAGES = {".json", ".txt"}
SKIPPED_FOLDERS = {"malformed", "edition3"}


def shared_files() -> List[Path]:
    if not SHARED_BUFR.is_dir():
        return []
    return sorted(path for path in SHARED_BUFR.rglob("*")
                  if path.is_file() and path.suffix not in NOT_MESSAGES
                  and not SKIPPED_FOLDERS & set(path.relative_to(SHARED_BUFR).parts))


def expand_paths(paths: List[Path]) -> List[Path]:
    found = []
    for path in paths:
        if path.is_dir():
            found.extend(sorted(p for p in path.iterdir()
                                if p.is_file() and p.suffix not in NOT_MESSAGES))
        else:
            found.append(path)
    return found


CLOCK = time.process_time


def time_per_call(call: Callable[[], object], repeat: int, min_time: float) -> float:
    """Median seconds per call over `repeat` runs of at least `min_time`."""
    gc.collect()
    enabled = gc.isenabled()
    gc.disable()
    try:
        count = 1
        while True:
            start = CLOCK()
            for _ in range(count):
                call()
            elapsed = CLOCK() - start
            if elapsed >= min_time:
                break
            count = max(count * 2, int(count * min_time / max(elapsed, 1e-9) * 1.2))
        samples = [elapsed / count]
        for _ in range(repeat - 1):
            start = CLOCK()
            for _ in range(count):
                call()
            samples.append((CLOCK() - start) / count)
        return statistics.median(samples)
    finally:
        if enabled:
            gc.enable()


def eccodes_decode(message: bytes) -> int:
    handle = eccodes.codes_new_from_message(message)
    try:
        eccodes.codes_set(handle, "unpack", 1)
        numbers = eccodes.codes_get_array(handle, "numericValues")
        try:
            eccodes.codes_get_array(handle, "stringValues")
        except eccodes.CodesInternalError:
            pass
        return len(numbers)
    finally:
        eccodes.codes_release(handle)


def read_all(values) -> None:
    for value in values:
        value.data


class Row:
    def __init__(self, name: str) -> None:
        self.name = name
        self.subsets: Optional[int] = None
        self.compressed = False
        self.ours_values: Optional[int] = None
        self.ours_rate: Optional[float] = None
        self.read_rate: Optional[float] = None
        self.defs_rate: Optional[float] = None
        self.eccodes_values: Optional[int] = None
        self.eccodes_rate: Optional[float] = None
        self.notes: List[str] = []
        self.profile: Optional[str] = None


def first_message(path: Path) -> Optional[bytes]:
    for message in split_messages(path.read_bytes()):
        return message if edition(message) == 4 else None
    return None


def quiet_eccodes(call: Callable[[], object]):
    """Runs `call` with file descriptor 2 silenced (ecCodes prints its errors)."""
    saved = os.dup(2)
    with open(os.devnull, "wb") as null:
        os.dup2(null.fileno(), 2)
        try:
            return call()
        finally:
            os.dup2(saved, 2)
            os.close(saved)


def measure(path: Path, name: str, definitions: str, repeat: int, min_time: float) -> Row:
    row = Row(name)
    message = first_message(path)
    if message is None:
        row.notes.append("no edition-4 first message")
        return row
    header = _quorvel.parse_all_bytes(message)[0]
    row.subsets = header.number_of_subsets
    row.compressed = bool(header.compressed_data)
    try:
        tables = _quorvel.TableSet.from_definitions(definitions, header)
        values = _quorvel.decode_values_with_tables(message, tables)
    except ValueError as error:
        row.notes.append(f"ours: {error}")
    else:
        row.ours_values = len(values)
        del values
        seconds = time_per_call(lambda: _quorvel.decode_values_with_tables(message, tables),
                                repeat, min_time)
        row.ours_rate = row.ours_values / seconds
        seconds = time_per_call(
            lambda: read_all(_quorvel.decode_values_with_tables(message, tables)),
            repeat, min_time)
        row.read_rate = row.ours_values / seconds
        seconds = time_per_call(
            lambda: _quorvel.decode_values_with_definitions(message, definitions),
            repeat, min_time)
        row.defs_rate = row.ours_values / seconds
    if eccodes is None:
        row.notes.append("python3-eccodes not installed")
        return row
    try:
        row.eccodes_values = quiet_eccodes(lambda: eccodes_decode(message))
    except eccodes.CodesInternalError as error:
        row.notes.append(f"ecCodes: {type(error).__name__}")
        return row
    seconds = quiet_eccodes(lambda: time_per_call(lambda: eccodes_decode(message), repeat,
                                                  min_time))
    row.eccodes_rate = row.eccodes_values / seconds
    if row.ours_values is not None and row.ours_values != row.eccodes_values:
        row.notes.append(f"value counts differ: ours {row.ours_values}, "
                         f"ecCodes {row.eccodes_values}")
    return row


# ---- Profile --------------------------------------------------------------------------

PROFILE_CHILD = """
import sys, time
sys.path[:0] = {paths!r}
import _quorvel
message = open({path!r}, 'rb').read()
from eccodes_reference import split_messages
message = split_messages(message)[0]
tables = _quorvel.TableSet.from_definitions({definitions!r}, _quorvel.parse_all_bytes(message)[0])
end = time.perf_counter() + {seconds}
while time.perf_counter() < end:
    _quorvel.decode_values_with_tables(message, tables)
"""


def classify(dso: str, symbol: str) -> str:
    if "_quorvel" in dso:
        if "py::" in symbol or symbol.startswith(("Py", "_Py")):
            return "objects"
        return "decoding"
    if "python" in dso:
        return "objects"
    if "kernel" in dso:
        return "kernel"
    if "libc" in dso or "libstdc++" in dso or "libm" in dso:
        return "runtime"
    return "other"


def profile(path: Path, definitions: str, seconds: float) -> Optional[str]:
    """The perf sample shares of one message's decoding, or None without perf."""
    perf = shutil.which("perf")
    if perf is None:
        return None
    with tempfile.TemporaryDirectory() as scratch:
        data = Path(scratch) / "perf.data"
        code = PROFILE_CHILD.format(paths=[p for p in sys.path if p], path=str(path),
                                    definitions=definitions, seconds=seconds)
        recorded = subprocess.run([perf, "record", "-q", "-F", "2000", "-o", str(data), "--",
                                   sys.executable, "-c", code],
                                  capture_output=True, text=True)
        if recorded.returncode != 0:
            return f"perf record failed: {recorded.stderr.strip()[:200]}"
        report = subprocess.run([perf, "report", "-i", str(data), "--stdio", "--no-children",
                                 "--sort", "dso,symbol", "--percent-limit", "0"],
                                capture_output=True, text=True)
    shares: dict = {}
    for line in report.stdout.splitlines():
        fields = line.split()
        if len(fields) < 4 or not fields[0].endswith("%"):
            continue
        share = float(fields[0].rstrip("%"))
        dso, symbol = fields[1], " ".join(fields[3:])
        kind = classify(dso, symbol)
        shares[kind] = shares.get(kind, 0.0) + share
    return ", ".join(f"{kind} {share:.0f}%" for kind, share in
                     sorted(shares.items(), key=lambda item: -item[1]))


# ---- Output ----------------------------------------------------------------------------

def rate(value: Optional[float]) -> str:
    return "-" if value is None else f"{value / 1e6:.2f}M"


def print_table(rows: List[Row]) -> None:
    headers = ["file", "subsets", "values", "ours v/s", "ours+read v/s", "ours+defs v/s",
               "ecCodes v/s", "ratio", "defs ratio"]
    lines = []
    for row in rows:
        ratio = (f"{row.ours_rate / row.eccodes_rate:.2f}"
                 if row.ours_rate and row.eccodes_rate else "-")
        defs_ratio = (f"{row.defs_rate / row.eccodes_rate:.2f}"
                      if row.defs_rate and row.eccodes_rate else "-")
        values = row.ours_values if row.ours_values is not None else row.eccodes_values
        lines.append([row.name + (" (c)" if row.compressed else ""),
                      "-" if row.subsets is None else str(row.subsets),
                      "-" if values is None else str(values), rate(row.ours_rate),
                      rate(row.read_rate), rate(row.defs_rate), rate(row.eccodes_rate), ratio,
                      defs_ratio])
    widths = [max(len(h), *(len(line[i]) for line in lines)) for i, h in enumerate(headers)]
    print("  ".join(h.ljust(w) if i == 0 else h.rjust(w)
                    for i, (h, w) in enumerate(zip(headers, widths))))
    for line in lines:
        print("  ".join(c.ljust(w) if i == 0 else c.rjust(w)
                        for i, (c, w) in enumerate(zip(line, widths))))
    notes = [(row.name, note) for row in rows for note in row.notes]
    if notes:
        print("\nnotes:")
        for name, note in notes:
            print(f"  {name}: {note}")
    profiles = [(row.name, row.profile) for row in rows if row.profile]
    if profiles:
        print("\nperf sample shares while decoding (objects = extension's Python layer "
              "and interpreter):")
        for name, text in profiles:
            print(f"  {name}: {text}")


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("paths", nargs="*", type=Path)
    parser.add_argument("--no-shared", action="store_true",
                        help="leave out the files of the shared data folder")
    parser.add_argument("--definitions", default=DEFAULT_DEFINITIONS)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--min-time", type=float, default=0.05)
    parser.add_argument("--profile", action="store_true",
                        help="split the time of compressed messages with perf")
    parser.add_argument("--profile-seconds", type=float, default=3.0)
    parser.add_argument("--wall", action="store_true", help="time by the wall clock")
    args = parser.parse_args(argv)
    global CLOCK
    CLOCK = time.perf_counter if args.wall else time.process_time

    files = [] if args.no_shared else [(path, str(path.relative_to(SHARED_BUFR)))
                                       for path in shared_files()]
    files += [(path, path.name) for path in expand_paths(args.paths)]
    if not files:
        parser.error("no files: give paths or make ../shared/data available")
    rows = []
    for path, name in files:
        row = measure(path, name, args.definitions, args.repeat, args.min_time)
        if args.profile and row.compressed and row.ours_rate and row.ours_values >= 10000:
            row.profile = profile(path, args.definitions, args.profile_seconds)
        rows.append(row)
        print(f"measured {name}", file=sys.stderr)
    print_table(rows)
    return 0


if __name__ == "__main__":
    sys.exit(main())
