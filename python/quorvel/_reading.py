"""Reading files for the command line: the messages of a file one by one, and
the tables each message is decoded with.

``_quorvel.parse_all_file`` gives all messages of a file or an error; the
command line wants the good messages of a file even when one of them is
broken, and the bytes of each message to decode it. So it asks the module's
scanner where the messages lie and parses each one alone.
"""

from __future__ import annotations

import os
from dataclasses import dataclass, field

import _quorvel

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


def read_messages(path: str) -> FileContents:
    """Reads ``path`` and parses each message in it; never raises for bad data."""
    contents = FileContents(path)
    try:
        with open(path, "rb") as stream:
            data = stream.read()
    except OSError as exc:
        contents.error = exc.strerror or str(exc)
        return contents
    found, stop = _quorvel.scan_messages(data)
    for index, (offset, length) in enumerate(found, start=1):
        chunk = data[offset : offset + length]
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
    elif not found:
        contents.error = "no BUFR message found"
    return contents


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
