"""Reading files for the command line: the messages of a file one by one, and
the tables each message is decoded with.

The reader gives each message of a file, or the error of one that cannot be
read, in file order; the command line reports the errors and goes on.
"""

from __future__ import annotations

import os
import stat
from dataclasses import dataclass, field

import _quorvel

from quorvel._reader import read_outcomes_and_ends

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
    found: _quorvel.Message | None
    error: str | None

    @property
    def message(self) -> _quorvel.Message | None:
        return self.found


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


def read_messages(path: str, definitions: str | None = None) -> FileContents:
    """Reads ``path`` and parses each message in it; never raises for bad data."""
    contents = FileContents(path)
    try:
        status = os.stat(path)
        if stat.S_ISDIR(status.st_mode):
            raise IsADirectoryError(21, os.strerror(21))
        if not stat.S_ISREG(status.st_mode):
            kind = _KINDS.get(stat.S_IFMT(status.st_mode), "special file")
            contents.error = f"not a regular file ({kind})"
            return contents
        for outcome, at_end in read_outcomes_and_ends(path, definitions=definitions):
            if isinstance(outcome, _quorvel.Message):
                contents.slots.append(Slot(outcome.index + 1, outcome.offset, outcome, None))
            elif at_end:
                # What follows the last good marker cannot be a message; say
                # where the reading stopped, so that a text file that happens
                # to hold "BUFR" does not read as a broken message.
                found = len(contents.slots)
                where = f"after message {found}" if found else "no complete BUFR message"
                contents.error = f"{where}: {outcome.reason}"
            else:
                contents.slots.append(Slot(outcome.index + 1, outcome.offset, None,
                                           outcome.reason))
    except OSError as exc:
        contents.error = exc.strerror or str(exc)
    if not contents.slots and contents.error is None:
        contents.error = "no BUFR message found"
    return contents


def decode_failure(error: _quorvel.MessageError) -> str:
    """The reason of a failed decode, with where it failed, without the
    source and message the command line names itself."""
    tables = "" if error.tables is None else f"; tables tried: {', '.join(error.tables)}"
    if error.descriptor is None:
        return error.reason + tables
    subset = "" if error.subset is None else f" of subset {error.subset + 1}"
    return (f"{error.reason} (reading descriptor {error.descriptor:06d} at position "
            f"{error.position}{subset}){tables}")


def default_definitions() -> str:
    """The definitions roots used when none is given: the existing
    directories of $ECCODES_DEFINITION_PATH, joined by colons, else Debian's;
    raises ValueError saying what to set or install when there is none."""
    variable = os.environ.get("ECCODES_DEFINITION_PATH", "")
    if variable:
        roots = [entry for entry in variable.split(":") if entry and os.path.isdir(entry)]
        if roots:
            return ":".join(roots)
        raise ValueError(f"names no existing directory (ECCODES_DEFINITION_PATH={variable})")
    return DEBIAN_DEFINITIONS


DEBIAN_DEFINITIONS = "/usr/share/eccodes/definitions"


class TableSource:
    """Where the tables come from: a definitions root (tables chosen per
    message, through the module's cache), one ecCodes table directory, or a
    WMO BUFR4 CSV directory (loaded once for the whole run).
    """

    def __init__(
        self,
        definitions: str | None = None,
        eccodes: str | None = None,
        bufr4: str | None = None,
    ) -> None:
        if sum(source is not None for source in (definitions, eccodes, bufr4)) > 1:
            raise ValueError("give at most one table source")
        self.definitions: str | None = None
        self._fixed: _quorvel.TableSet | None = None
        if eccodes is not None:
            self._fixed = _quorvel.TableSet.from_eccodes(eccodes)
        elif bufr4 is not None:
            self._fixed = _quorvel.TableSet.from_bufr4_45(bufr4)
        else:
            self.definitions = default_definitions() if definitions is None else definitions
            roots = [root for root in self.definitions.split(":") if root]
            if len(roots) <= 1 and not os.path.isdir(self.definitions):
                raise ValueError("not a directory")
            for root in roots:
                if not os.path.isdir(root):
                    raise ValueError(f"{root} is not a directory")

    def decode(self, message: _quorvel.Message) -> _quorvel.DecodedMessage:
        """The values of ``message``; raises ``MessageError`` when it cannot
        be decoded."""
        return message.decode(tables=self._fixed)
