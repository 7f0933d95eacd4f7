"""Calls release the GIL while the core works, stay correct when threads
share TableSets, and stop for Ctrl-C in the middle of a long decode."""

from __future__ import annotations

import gc
import os
import random
import signal
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

import pytest

from _quorvel import decode_values_with_tables
from decode_support import (BLOCK, NAME, REGION, STATION, TEMPERATURE, bits, message, observe,
                            standard_tables, tables_with)

HERE = Path(__file__).resolve().parent

# Four levels of 255 repeats around two sequences of one operator: the walk
# reaches its step bound (2^26 steps, most of a second) with no value made.
LONG_SEQUENCES = ((301250, (301251,)), (301251, (201000,)))
LONG_CODES = [104255, 103255, 102255, 101255, 301250]


def long_decode_tables():
    return tables_with(sequences=LONG_SEQUENCES)


def mixed_messages() -> list[bytes]:
    """Uncompressed and compressed messages with numbers, texts, meanings
    and missing values."""
    rng = random.Random(7)
    station = [BLOCK.code, STATION.code, NAME.code, REGION.code, TEMPERATURE.code]
    subsets = 300

    def subset_fields():
        name = bytes(rng.choice(b"ABCXYZ ") for _ in range(8))
        return ((rng.randrange(128), 7), (rng.randrange(1024), 10), name,
                (rng.randrange(8), 3), (rng.randrange(1 << 16), 16))

    uncompressed = bits(*(f for _ in range(subsets) for f in subset_fields()))
    compressed = bits(
        (3, 7), (2, 6), *((rng.randrange(4), 2) for _ in range(subsets)),   # block
        (500, 10), (0, 6),                                                 # station, constant
        b"STATION ", (1, 6), *(bytes([65 + k % 26]) for k in range(subsets)),  # names
        (0, 3), (3, 6), *((rng.randrange(8), 3) for _ in range(subsets)),  # region, meanings
        (27000, 16), (8, 6), *((rng.randrange(256), 8) for _ in range(subsets)))
    return [message(station, uncompressed, subsets=subsets),
            message(station, compressed, subsets=subsets, compressed=True)]


def test_threads_sharing_tables_decode_as_one_thread_does():
    tables = standard_tables()
    messages = mixed_messages()
    expected = [observe(decode_values_with_tables(m, tables)) for m in messages]
    failures: list = []
    deadline = time.monotonic() + 2.0

    def work(seed: int) -> None:
        rng = random.Random(seed)
        try:
            while time.monotonic() < deadline:
                k = rng.randrange(len(messages))
                if observe(decode_values_with_tables(messages[k], tables)) != expected[k]:
                    failures.append(k)
                    return
        except BaseException as error:  # noqa: BLE001 - reported below
            failures.append(error)

    def collect() -> None:
        # Values are made without the GIL: the collector must never see them half made.
        while time.monotonic() < deadline:
            gc.collect()

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(8)]
    threads.append(threading.Thread(target=collect))
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


def test_other_threads_run_during_a_long_decode():
    tables = long_decode_tables()
    data = message(LONG_CODES)
    span: list[float] = []

    def work() -> None:
        span.append(time.perf_counter())
        try:
            decode_values_with_tables(data, tables)
        except ValueError:
            span.append(time.perf_counter())

    worker = threading.Thread(target=work)
    ticks: list[float] = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.perf_counter())
    worker.join()
    start, end = span
    assert end - start > 0.2
    # Holding the GIL for the whole decode would leave this loop no turn
    # but at the thread switches (5 ms each) on the way in and out.
    during = [t for t in ticks if start + 0.05 < t < end - 0.05]
    assert len(during) > 1000


# Each child prints "start", then runs one long call that ends with a
# ValueError unless interrupted.
DECODE_CHILD = """
    from _quorvel import decode_values_with_tables
    from decode_support import message, tables_with
    from test_threads import LONG_CODES, LONG_SEQUENCES

    tables = tables_with(sequences=LONG_SEQUENCES)
    data = message(LONG_CODES, subsets=1, compressed={compressed})
    def long_call():
        decode_values_with_tables(data, tables)
    def check():
        return len(decode_values_with_tables(message([201000, 222000]), tables))
"""

# About a second of parsing here: two million small messages, the last of an
# edition that fails only once all are parsed, so that no message objects are
# made after the core's work.
PARSE_CHILD = """
    import os, tempfile
    from _quorvel import parse_all_bytes, parse_all_file
    from builder import build_message

    one = bytes(build_message(descriptors=[1001], data=bytes(100)))
    data = one * 2_000_000 + bytes(build_message(descriptors=[1001], edition=9))
    if "{call}" == "file":
        path = os.path.join(tempfile.mkdtemp(), "many.bufr")
        with open(path, "wb") as out:
            out.write(data)
        del data
    def long_call():
        try:
            if "{call}" == "file":
                parse_all_file(path)
            else:
                parse_all_bytes(data)
        finally:
            if "{call}" == "file":
                os.remove(path)
                os.rmdir(os.path.dirname(path))
    def check():
        return len(parse_all_bytes(one))
"""

CHILD_RUN = """
    print("start", flush=True)
    try:
        long_call()
        outcome = "finished"
    except KeyboardInterrupt:
        outcome = "interrupted"
    except ValueError:
        outcome = "finished"
    print(outcome, flush=True)
    # The interpreter and the module still work.
    print(check(), flush=True)
"""


@pytest.mark.parametrize("child_setup", [
    pytest.param(DECODE_CHILD.format(compressed=False), id="decode-uncompressed"),
    pytest.param(DECODE_CHILD.format(compressed=True), id="decode-compressed"),
    pytest.param(PARSE_CHILD.format(call="bytes"), id="parse_all_bytes"),
    pytest.param(PARSE_CHILD.format(call="file"), id="parse_all_file"),
])
def test_ctrl_c_stops_a_long_call(child_setup):
    environment = dict(os.environ)
    environment["PYTHONPATH"] = os.pathsep.join(
        filter(None, [str(HERE), environment.get("PYTHONPATH")]))
    child_code = "import sys, time\n" + textwrap.dedent(child_setup) + textwrap.dedent(CHILD_RUN)
    child = subprocess.Popen([sys.executable, "-c", child_code],
                             cwd=HERE, env=environment, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    # Lines are read through the pipe's buffer only: communicate() would read
    # past it and miss a line already buffered. A child that hangs is killed,
    # which ends the reads.
    watchdog = threading.Timer(30, child.kill)
    watchdog.start()
    try:
        assert child.stdout.readline() == "start\n"
        time.sleep(0.2)
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        outcome = child.stdout.readline()
        latency = time.monotonic() - sent
        rest = child.stdout.read()
        errors = child.stderr.read()
        child.wait()
    finally:
        watchdog.cancel()
        child.kill()
    # A call that ignored the signal would finish (with a ValueError) and
    # the interrupt would arrive only after it.
    assert (outcome, rest, child.returncode) == ("interrupted\n", "1\n", 0), errors
    assert latency < 0.5
