#!/usr/bin/env python3
"""Time and memory of the costliest small inputs we know how to build.

    PYTHONPATH=build/<dir>:python benchmarks/worst_case_inputs.py [--definitions ROOT]

Every input is at most 64 KB. Each runs in a fresh interpreter, so that its
peak resident size is its own; the tables (WMO version 37 from an ecCodes
definitions root) are loaded before the clock starts. A line per case gives
the outcome, the wall and CPU time of the one call, the peak resident size
of the process and how much the call added to it. Inputs of this size must
stay under one second and 256 MB (the command line, which prints what it
decodes, under three seconds and 512 MB); the script exits 1 when one does
not.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "py"))
from builder import BitWriter, build_message  # noqa: E402

LIMIT_BYTES = 64 * 1024
TIME_BOUND = 1.0
MEMORY_BOUND = 256 * 1024 * 1024
# The command line prints every value it decodes, so it gets more.
CLI_TIME_BOUND = 3.0
CLI_MEMORY_BOUND = 512 * 1024 * 1024
MAX_SUBSETS = 65535

# Table B entries of version 37 used below.
DELAYED_16 = 31002        # extended delayed replication factor, 16 bits
PRESENT = 31031           # data present indicator, 1 bit
STATION_NAME = 1015       # CCITT IA5, 160 bits


def compressed_constant_columns(columns: int, width: int = 1, value: int = 0) -> bytes:
    """65535 compressed subsets: a delayed replication of `columns` copies of
    the 1-bit indicator, each column a reference and an increment width of 0."""
    data = BitWriter().write(columns, 16).write(0, 6)
    for _ in range(columns):
        data.write(value, width).write(0, 6)
    return build_message(descriptors=[101000, DELAYED_16, PRESENT], data=bytes(data),
                         number_of_subsets=MAX_SUBSETS, compressed=True).data


def compressed_shared_texts(columns: int) -> bytes:
    """65535 compressed subsets of 255-character texts, each column the same
    text in every subset."""
    data = BitWriter().write(columns, 16).write(0, 6)
    for k in range(columns):
        data.write_octets(bytes([65 + k % 26]) * 255).write(0, 6)
    return build_message(descriptors=[208255, 101000, DELAYED_16, STATION_NAME],
                         data=bytes(data), number_of_subsets=MAX_SUBSETS,
                         compressed=True).data


def compressed_distinct_texts() -> bytes:
    """65000 compressed subsets, each with its own one-character text."""
    subsets = 65000
    data = BitWriter().write_octets(b"\0").write(1, 6)
    for k in range(subsets):
        data.write(33 + k % 90, 8)
    return build_message(descriptors=[208001, STATION_NAME], data=bytes(data),
                         number_of_subsets=subsets, compressed=True).data


def uncompressed_one_bit_values() -> bytes:
    """One subset: about half a million 1-bit values."""
    repeats = (LIMIT_BYTES - 200) * 8 // 255
    data = BitWriter().write(repeats, 16)
    for _ in range(repeats * 5):
        data.write((1 << 51) - 1, 51)
    return build_message(descriptors=[102000, DELAYED_16, 101255, PRESENT],
                         data=bytes(data)).data


def nested_empty_operators(subsets: int = 1, compressed: bool = False) -> bytes:
    """Nested fixed replications of an operator that reads nothing."""
    return build_message(descriptors=[104255, 103255, 102255, 101255, 201129, 201000],
                         data=b"", number_of_subsets=subsets, compressed=compressed).data


def bitmap_reused_many_times() -> bytes:
    """A bitmap of 65534 absent entries defined once, then used 2 million
    times: each 2-37-000 with its 2-23-255 may only cost what it yields."""
    data = BitWriter().write(65534, 16)
    for _ in range(65534 // 51):
        data.write((1 << 51) - 1, 51)
    data.write((1 << (65534 % 51)) - 1, 65534 % 51)
    data.write(200, 16)
    for _ in range(200):
        data.write(10000, 16)
    return build_message(descriptors=[236000, 101000, DELAYED_16, PRESENT, 104000, DELAYED_16,
                                      102000, DELAYED_16, 237000, 223255],
                         data=bytes(data)).data


def zero_width_values() -> bytes:
    """2-01-001 narrows a 7-bit element to nothing: values that cost no bits."""
    return build_message(descriptors=[201001, 104255, 103255, 102255, 101255, 1001],
                         data=b"").data


def many_messages() -> bytes:
    one = build_message(descriptors=[PRESENT], data=b"\x80").data
    return one * (LIMIT_BYTES // len(one))


CASES = {
    # name: (function, input builder)
    "compressed, 2^21 1-bit values": ("decode_values_with_tables",
                                      lambda: compressed_constant_columns(31)),
    "compressed, columns past the value bound": ("decode_values_with_tables",
                                                 lambda: compressed_constant_columns(65535)),
    "compressed, 255-character texts shared": ("decode_values_with_tables",
                                               lambda: compressed_shared_texts(31)),
    "compressed, texts past the value bound": ("decode_values_with_tables",
                                               lambda: compressed_shared_texts(200)),
    "compressed, distinct texts": ("decode_values_with_tables", compressed_distinct_texts),
    "uncompressed, 1-bit values": ("decode_values_with_tables", uncompressed_one_bit_values),
    "uncompressed, empty operators": ("decode_values_with_tables", nested_empty_operators),
    "compressed, empty operators": ("decode_values_with_tables",
                                    lambda: nested_empty_operators(MAX_SUBSETS, True)),
    "decode_values, 2^21 values with table loading": ("decode_values",
                                                      lambda: compressed_constant_columns(31)),
    "uncompressed, bitmap reused 2 million times": ("decode_values_with_tables",
                                                    bitmap_reused_many_times),
    "uncompressed, zero-width values": ("decode_values_with_tables", zero_width_values),
    "command line dump, 2^21 1-bit values": ("cli dump", lambda: compressed_constant_columns(31)),
    "command line dump --json, 2^21 1-bit values": ("cli dump --json",
                                                    lambda: compressed_constant_columns(31)),
    "parse_all_bytes, smallest messages": ("parse_all_bytes", many_messages),
    "expand, largest expansion": ("expand", None),
    "expand, past the expansion bound": ("expand_past", None),
}

CHILD = r"""
import json, resource, sys, time
import _quorvel
case, table_dir, path = sys.argv[1:4]
function = json.loads(case)
tables = _quorvel.TableSet.from_eccodes(table_dir)
data = open(path, "rb").read() if path != "-" else None
if function == "decode_values_with_tables":
    call = lambda: _quorvel.decode_values_with_tables(data, tables)
elif function == "decode_values":
    call = lambda: _quorvel.decode_values(data, table_dir)
elif function.startswith("cli "):
    import contextlib, os
    from quorvel import cli
    definitions = table_dir.rsplit("/bufr/tables/", 1)[0]
    def call():
        with open(os.devnull, "w") as sink, contextlib.redirect_stdout(sink):
            status = cli.main(function.split()[1:] + ["--definitions", definitions, path])
        return [status]
elif function == "parse_all_bytes":
    call = lambda: _quorvel.parse_all_bytes(data)
else:
    # Nested fixed replications: every level multiplies the expansion.
    codes = [103004, 102255, 101255, 1001] if function == "expand" else [
        105255, 104255, 103255, 102255, 101255, 1001]
    call = lambda: tables.expand(codes)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
wall, cpu = time.perf_counter(), time.process_time()
try:
    result = call()
    outcome = (f"exit status {result[0]}" if function.startswith("cli ")
               else f"{len(result)} items")
except Exception as error:
    outcome = f"{type(error).__name__}: {error}"
wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
print(json.dumps({"outcome": outcome, "wall": wall, "cpu": cpu, "peak": peak,
                  "added": peak - before}))
"""


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--definitions", default="/usr/share/eccodes/definitions")
    parser.add_argument("--scratch", default="/tmp")
    parser.add_argument("--timeout", type=float, default=60.0,
                        help="seconds after which a case is stopped and counted as over the bound")
    args = parser.parse_args()
    table_dir = os.path.join(args.definitions, "bufr", "tables", "0", "wmo", "37")
    failures = 0
    print(f"{'case':48} {'octets':>7} {'wall s':>7} {'cpu s':>7} {'peak MB':>8} "
          f"{'added MB':>8}  outcome")
    for name, (function, make) in CASES.items():
        path = "-"
        size = 0
        if make is not None:
            data = make()
            size = len(data)
            assert size <= LIMIT_BYTES, (name, size)
            path = os.path.join(args.scratch, f"quorvel-worst-case-{os.getpid()}.bufr")
            Path(path).write_bytes(data)
        try:
            output = subprocess.run([sys.executable, "-c", CHILD, json.dumps(function), table_dir,
                                     path], check=True, capture_output=True, text=True,
                                    timeout=args.timeout).stdout
            result = json.loads(output)
        except subprocess.TimeoutExpired:
            result = {"outcome": f"stopped after {args.timeout} s", "wall": float(args.timeout),
                      "cpu": float("nan"), "peak": 0, "added": 0}
        finally:
            if path != "-":
                os.unlink(path)
        time_bound, memory_bound = ((CLI_TIME_BOUND, CLI_MEMORY_BOUND) if function.startswith("cli ")
                                    else (TIME_BOUND, MEMORY_BOUND))
        over = result["wall"] > time_bound or result["peak"] > memory_bound
        failures += over
        outcome = result["outcome"]
        print(f"{name:48} {size:7} {result['wall']:7.3f} {result['cpu']:7.3f} "
              f"{result['peak'] / 2**20:8.1f} {result['added'] / 2**20:8.1f}  "
              f"{outcome[:90]}{'  OVER THE BOUND' if over else ''}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
