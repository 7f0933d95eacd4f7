#!/usr/bin/env python3
"""The reader against python3-eccodes, side by side in one run.

    .venv/bin/python benchmarks/reader_vs_eccodes.py [--only NAME ...] [options]

Five measurements, each printed as soon as it is done:

- headers-small: iterating the headers of a file of many small messages
  (examples/synop.bufr repeated), messages per second; ecCodes:
  `codes_bufr_new_from_file` and `codes_release`, no unpacking.
- headers-large: the same over a file of large messages (the largest shared
  edition-4 files repeated), in octets of file per second.
- decode-shared: every message of every edition-4 file of ../shared/data/bufr
  through `read_messages(path).decode()` with the default tables; ecCodes:
  a handle from the file, unpack, "numericValues" and "stringValues", release.
  Messages either side cannot decode are counted and left in.
- threads: two large messages decoded by two threads at once against one
  thread decoding both, objects included.
- rss: a file of about --rss-size octets built from the shared files is
  iterated and every message decoded; the growth of the process's anonymous
  memory (RssAnon) is sampled.

Times are wall-clock (threads need it), the median of --repeat runs.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import Callable, List, Optional

HERE = Path(__file__).resolve()
ROOT = HERE.parents[1]
SHARED_BUFR = ROOT.parent / "shared" / "data" / "bufr"
SKIPPED_FOLDERS = {"malformed", "edition3"}
NOT_MESSAGES = {".json", ".txt"}

import quorvel  # noqa: E402

try:
    import eccodes
except ImportError:
    eccodes = None


def median_seconds(call: Callable[[], object], repeat: int) -> float:
    samples = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def quiet(call: Callable[[], object]):
    """Runs `call` with file descriptor 2 silenced (ecCodes prints its errors)."""
    saved = os.dup(2)
    with open(os.devnull, "wb") as null:
        os.dup2(null.fileno(), 2)
        try:
            return call()
        finally:
            os.dup2(saved, 2)
            os.close(saved)


def shared_files() -> List[Path]:
    if not SHARED_BUFR.is_dir():
        return []
    return sorted(path for path in SHARED_BUFR.rglob("*")
                  if path.is_file() and path.suffix not in NOT_MESSAGES
                  and not SKIPPED_FOLDERS & set(path.relative_to(SHARED_BUFR).parts))


def edition4_messages(path: Path) -> List[bytes]:
    return [bytes(m.data) for m in quorvel.read_messages(path, on_error="skip")
            if m.edition == 4]


def write_repeated(target: Path, messages: List[bytes], size: int) -> int:
    """Writes `messages` over and over until `size` octets; returns the count."""
    block = b"".join(messages)
    count = 0
    with open(target, "wb") as out:
        written = 0
        while written < size:
            out.write(block)
            written += len(block)
            count += len(messages)
    return count


def ratio(ours: float, theirs: Optional[float]) -> str:
    return f"{ours / theirs:.1f}x" if theirs else "-"


# ---- Headers ---------------------------------------------------------------------------

def ours_headers(path: Path) -> int:
    count = 0
    for message in quorvel.read_messages(path):
        message.number_of_subsets
        count += 1
    return count


def eccodes_headers(path: Path) -> int:
    count = 0
    with open(path, "rb") as source:
        while True:
            handle = eccodes.codes_bufr_new_from_file(source)
            if handle is None:
                return count
            eccodes.codes_get(handle, "numberOfSubsets")
            eccodes.codes_release(handle)
            count += 1


def headers(label: str, path: Path, repeat: int) -> None:
    size = path.stat().st_size
    count = ours_headers(path)
    ours = median_seconds(lambda: ours_headers(path), repeat)
    theirs = median_seconds(lambda: eccodes_headers(path), repeat) if eccodes else None
    print(f"{label}: {count} messages, {size / 1e6:.0f} MB")
    print(f"  ours    {count / ours / 1e6:8.2f} M messages/s  {size / ours / 1e9:6.2f} GB/s")
    if theirs:
        print(f"  ecCodes {count / theirs / 1e6:8.2f} M messages/s  "
              f"{size / theirs / 1e9:6.2f} GB/s  (ours {ratio(theirs, ours)})")


# ---- Decoding every shared message ------------------------------------------------------

def ours_decode(paths: List[Path]) -> tuple:
    done = failed = 0
    for path in paths:
        for message in quorvel.read_messages(path, on_error="skip"):
            if message.edition != 4:
                continue
            try:
                message.decode()
                done += 1
            except quorvel.MessageError:
                failed += 1
    return done, failed


def eccodes_decode(paths: List[Path]) -> tuple:
    done = failed = 0
    for path in paths:
        with open(path, "rb") as source:
            while True:
                try:
                    handle = eccodes.codes_bufr_new_from_file(source)
                except eccodes.CodesInternalError:
                    failed += 1
                    break
                if handle is None:
                    break
                try:
                    if eccodes.codes_get(handle, "edition") != 4:
                        continue
                    eccodes.codes_set(handle, "unpack", 1)
                    eccodes.codes_get_array(handle, "numericValues")
                    try:
                        eccodes.codes_get_array(handle, "stringValues")
                    except eccodes.CodesInternalError:
                        pass
                    done += 1
                except eccodes.CodesInternalError:
                    failed += 1
                finally:
                    eccodes.codes_release(handle)
    return done, failed


def decode_shared(repeat: int) -> None:
    paths = shared_files()
    if not paths:
        print("decode-shared: ../shared/data/bufr not found, skipped")
        return
    done, failed = ours_decode(paths)  # loads the tables into the cache
    ours = median_seconds(lambda: ours_decode(paths), repeat)
    print(f"decode-shared: {len(paths)} files")
    print(f"  ours    {ours * 1e3:8.1f} ms  ({done} decoded, {failed} refused)")
    if eccodes:
        done, failed = quiet(lambda: eccodes_decode(paths))
        theirs = quiet(lambda: median_seconds(lambda: eccodes_decode(paths), repeat))
        print(f"  ecCodes {theirs * 1e3:8.1f} ms  ({done} decoded, {failed} failed)  "
              f"(ours {ratio(theirs, ours)})")


# ---- Two threads ------------------------------------------------------------------------

def largest_messages(count: int) -> List[quorvel.Message]:
    found = []
    for path in shared_files():
        for message in quorvel.read_messages(path, on_error="skip"):
            if message.edition == 4:
                try:
                    values = len(message.decode())
                except quorvel.MessageError:
                    continue
                found.append((values, message))
    found.sort(key=lambda pair: -pair[0])
    return [message for _, message in found[:count]]


def threads(repeat: int, rounds: int) -> None:
    messages = largest_messages(2)
    if len(messages) < 2:
        print("threads: needs two decodable shared messages, skipped")
        return

    def work(message: quorvel.Message) -> None:
        for _ in range(rounds):
            message.decode()

    def one_thread() -> None:
        for message in messages:
            work(message)

    def two_threads() -> None:
        workers = [threading.Thread(target=work, args=(m,)) for m in messages]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()

    one = median_seconds(one_thread, repeat)
    two = median_seconds(two_threads, repeat)
    sizes = ", ".join(f"{len(m.decode())} values" for m in messages)
    print(f"threads: two messages ({sizes}), {rounds} decodes each")
    print(f"  one thread {one * 1e3:8.1f} ms  two threads {two * 1e3:8.1f} ms  "
          f"speed-up {one / two:.2f}")


# ---- Anonymous memory over a large file -------------------------------------------------

def rss_anon() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("RssAnon:"):
                return int(line.split()[1]) * 1024
    return 0


def rss(size: int, directory: Optional[str]) -> None:
    messages = [m for path in shared_files() for m in edition4_messages(path)]
    if not messages:
        print("rss: ../shared/data/bufr not found, skipped")
        return
    with tempfile.TemporaryDirectory(dir=directory) as scratch:
        path = Path(scratch) / "large.bufr"
        count = write_repeated(path, messages, size)
        start = time.perf_counter()
        before = peak = rss_anon()
        done = failed = 0
        for message in quorvel.read_messages(path):
            try:
                message.decode()
                done += 1
            except quorvel.MessageError:
                failed += 1
            if (done + failed) % 256 == 0:
                peak = max(peak, rss_anon())
        seconds = time.perf_counter() - start
    print(f"rss: {count} messages, {size / 1e9:.2f} GB, iterated and decoded in {seconds:.0f} s "
          f"({done} decoded, {failed} refused)")
    print(f"  RssAnon before {before / 1e6:.0f} MB, peak {peak / 1e6:.0f} MB, "
          f"growth {(peak - before) / 1e6:.0f} MB")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", nargs="*", default=None,
                        choices=["headers-small", "headers-large", "decode-shared", "threads",
                                 "rss"])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--small-count", type=int, default=500_000,
                        help="messages in the file of small messages")
    parser.add_argument("--large-size", type=int, default=1 << 30,
                        help="octets in the file of large messages")
    parser.add_argument("--rss-size", type=int, default=2 << 30)
    parser.add_argument("--rounds", type=int, default=20, help="decodes per thread")
    parser.add_argument("--scratch", default=None, help="folder for the files written")
    args = parser.parse_args()
    wanted = set(args.only or ["headers-small", "headers-large", "decode-shared", "threads",
                               "rss"])
    if eccodes is None:
        print("python3-eccodes is not installed: our figures only")
    with tempfile.TemporaryDirectory(dir=args.scratch) as scratch:
        if "headers-small" in wanted:
            small = [bytes(m.data) for m in quorvel.read_messages(ROOT / "examples/synop.bufr")]
            path = Path(scratch) / "small.bufr"
            block = b"".join(small)
            write_repeated(path, small, len(block) * (args.small_count // len(small)))
            headers("headers-small", path, args.repeat)
            path.unlink()
        if "headers-large" in wanted:
            messages = sorted((m for p in shared_files() for m in edition4_messages(p)),
                              key=len)[-4:]
            if messages:
                path = Path(scratch) / "large.bufr"
                write_repeated(path, messages, args.large_size)
                headers("headers-large", path, args.repeat)
                path.unlink()
    if "decode-shared" in wanted:
        decode_shared(args.repeat)
    if "threads" in wanted:
        threads(args.repeat, args.rounds)
    if "rss" in wanted:
        rss(args.rss_size, args.scratch)
    return 0


if __name__ == "__main__":
    sys.exit(main())
