"""Reading files for the command line: the messages of a file one by one, and
the tables each message is decoded with.

``_quorvel.parse_all_file`` gives all messages of a file or an error; the
command line wants the good messages of a file even when one of them is
broken, and the bytes of each message to decode it. So it asks the module's
scanner where the messages lie and parses each one alone.
"""

from __future__ import annotations

import errno
import mmap
import os
import stat
from dataclasses import dataclass, field
from typing import Iterator

import _quorvel

# Octets searched for a marker between releases of the pages searched.
_SEARCH_WINDOW = 64 << 20

_KINDS = {
    stat.S_IFIFO: "a FIFO",
    stat.S_IFCHR: "a character device",
    stat.S_IFBLK: "a block device",
    stat.S_IFSOCK: "a socket",
}

@dataclass(frozen=True)
class Slot:
    """One message of a file: where it lies and what became of parsing it."""

    index: int  # counted from 1, in file order
    offset: int
    data: bytes
    message: _quorvel.BufrMessage | None
    error: str | None


@dataclass
class FileContents:
    """The messages found in one file, and the failure that stopped the reading, if any.

    ``error`` is set for an unreadable file, for a file without any message, and
    for a marker near the end whose message cannot fit in the file; the
    messages found before such a marker are still in ``slots``.
    """

    path: str
    slots: list[Slot] = field(default_factory=list)
    error: str | None = None


def _map(descriptor: int) -> mmap.mmap | bytes:
    """The contents of the regular file open as ``descriptor``, mapped rather
    than read; raises ``OSError``, or ``ValueError`` for a file that is not a
    regular file."""
    status = os.fstat(descriptor)
    if stat.S_ISDIR(status.st_mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR))
    if not stat.S_ISREG(status.st_mode):
        kind = _KINDS.get(stat.S_IFMT(status.st_mode), "special file")
        raise ValueError(f"not a regular file ({kind})")
    if status.st_size == 0:
        return b""  # mmap refuses an empty file
    return mmap.mmap(descriptor, 0, access=mmap.ACCESS_READ)


def _data_extents(descriptor: int, size: int) -> Iterator[tuple[int, int]]:
    """(start, end) of each stretch of the file that is not a hole. A hole
    reads as zeros, so it holds no marker and need not be read at all."""
    position = 0
    while position < size:
        try:
            start = os.lseek(descriptor, position, os.SEEK_DATA)
            end = os.lseek(descriptor, start, os.SEEK_HOLE)
        except OSError as exc:
            if exc.errno == errno.ENXIO:  # nothing but a hole from here on
                return
            yield position, size  # a file system that cannot tell
            return
        yield start, end
        position = end


def _first_marker(descriptor: int, mapped: mmap.mmap | bytes) -> int:
    """The offset of the first "BUFR" in the file, or -1."""
    if not isinstance(mapped, mmap.mmap):
        return mapped.find(b"BUFR")
    for start, end in _data_extents(descriptor, len(mapped)):
        window = start - start % mmap.PAGESIZE
        while window < end:
            stop = min(window + _SEARCH_WINDOW, end)
            found = mapped.find(b"BUFR", window, min(stop + 3, end))
            if found >= 0:
                return found
            # Pages searched leave the process, so its size stays that of one window.
            mapped.madvise(mmap.MADV_DONTNEED, window, stop - window)
            window = stop
    return -1


def read_messages(path: str) -> FileContents:
    """Reads ``path`` and parses each message in it; never raises for bad data."""
    contents = FileContents(path)
    try:
        # O_NONBLOCK: opening a FIFO must not wait for a writer before it is refused.
        descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as exc:
        contents.error = exc.strerror or str(exc)
        return contents
    mapped: mmap.mmap | bytes = b""
    try:
        mapped = _map(descriptor)
        first = _first_marker(descriptor, mapped)
        if first < 0:
            contents.error = "no BUFR message found"
        else:
            _scan(mapped, first, contents)
    except OSError as exc:
        contents.error = exc.strerror or str(exc)
    except ValueError as exc:
        contents.error = str(exc)
    finally:
        os.close(descriptor)
        if isinstance(mapped, mmap.mmap):
            mapped.close()
    return contents


def _scan(mapped: mmap.mmap | bytes, first: int, contents: FileContents) -> None:
    """Finds and parses the messages of a file whose first marker is at ``first``."""
    # The scanner takes only bytes, so the file is copied for it from its first
    # marker on (what comes before holds no message), and the copy goes as soon
    # as the scan returns. Offsets come back counted from that marker.
    found, stop = _quorvel.scan_messages(mapped[first:])
    if isinstance(mapped, mmap.mmap):
        mapped.madvise(mmap.MADV_DONTNEED)
    found = [(first + offset, length) for offset, length in found]
    if stop is not None and stop[1] == f"section 0 at offset {stop[0]} is truncated":
        stop = (first + stop[0], f"section 0 at offset {first + stop[0]} is truncated")
    for index, (offset, length) in enumerate(found, start=1):
        chunk = mapped[offset : offset + length]
        try:
            slot = Slot(index, offset, chunk, _quorvel.parse_bytes(chunk), None)
        except ValueError as exc:
            slot = Slot(index, offset, chunk, None, str(exc))
        contents.slots.append(slot)
    if stop is not None:
        # What follows the last good marker cannot be a message; say where the
        # reading stopped, so that a text file that happens to hold "BUFR"
        # does not read as a broken message.
        where = f"after message {len(found)}" if found else "no complete BUFR message"
        contents.error = f"{where}: {stop[1]}"


class TableSource:
    """Where the tables come from: a definitions root (tables chosen per
    message), one ecCodes table directory, or a WMO BUFR4 CSV directory.

    Tables are loaded once and kept for the whole run; for a definitions root,
    once per distinct choice of master and local tables.
    """

    def __init__(
        self,
        definitions: str | None = None,
        eccodes: str | None = None,
        bufr4: str | None = None,
    ) -> None:
        if sum(source is not None for source in (definitions, eccodes, bufr4)) != 1:
            raise ValueError("give exactly one table source")
        self._definitions = definitions
        self._fixed: _quorvel.TableSet | None = None
        self._loaded: dict[tuple[int, ...], _quorvel.TableSet | str] = {}
        if eccodes is not None:
            self._fixed = _quorvel.TableSet.from_eccodes(eccodes)
        elif bufr4 is not None:
            self._fixed = _quorvel.TableSet.from_bufr4_45(bufr4)
        elif definitions is not None and not os.path.isdir(definitions):
            raise ValueError("not a directory")

    def for_message(self, message: _quorvel.BufrMessage) -> _quorvel.TableSet:
        """The tables to decode ``message`` with; raises ``ValueError`` when they fail to load."""
        if self._fixed is not None:
            return self._fixed
        assert self._definitions is not None
        key: tuple[int, ...] = (
            message.master_table_number,
            message.master_tables_version_number,
            message.local_tables_version_number,
        )
        if message.local_tables_version_number != 0:
            key += (message.originating_centre, message.originating_subcentre)
        if key not in self._loaded:
            try:
                self._loaded[key] = _quorvel.TableSet.from_definitions(self._definitions, message)
            except ValueError as exc:
                self._loaded[key] = str(exc)
        tables = self._loaded[key]
        if isinstance(tables, str):
            raise ValueError(tables)
        return tables
