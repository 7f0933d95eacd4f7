"""read_messages: the messages of a file, a buffer or a stream, one by one.

The native ``next_messages`` finds and parses the messages of one buffer
without the GIL. This module feeds it: a buffer given whole in one call, a
file or stream in chunks, so that a file of any size is read in bounded
memory. Each ``Message`` keeps the chunk it was found in, and nothing more.
"""

from __future__ import annotations

import io
import os
import warnings
from typing import Any, Callable, Iterator, Sequence, Union

import _quorvel
from _quorvel import Message, MessageError

__all__ = ["MessageWarning", "read_messages", "read_outcomes"]

# Octets read from a file or stream at a time. A message longer than this
# (BUFR allows 16 MiB) is read to its end before it is parsed.
CHUNK_SIZE = 16 << 20

_ON_ERROR = ("raise", "skip", "warn")

Source = Union[str, "os.PathLike[str]", "os.PathLike[bytes]", bytes, bytearray, memoryview,
               io.RawIOBase, io.BufferedIOBase]
# One definitions root, several joined by colons, or a sequence of roots.
Definitions = Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]], None]


class MessageWarning(UserWarning):
    """A message that ``read_messages(..., on_error="warn")`` passed over.

    ``error`` is the ``MessageError`` that ``on_error="raise"`` would have raised.
    """

    def __init__(self, error: MessageError) -> None:
        super().__init__(str(error))
        self.error = error


def read_messages(source: Source, *, definitions: Definitions = None,
                  on_error: str = "raise") -> Iterator[Message]:
    """The BUFR messages of ``source``, one ``Message`` at a time, in order.

    ``source`` is a path (``str`` or ``os.PathLike``), a bytes-like object
    (``bytes``, ``bytearray``, ``memoryview``, ``mmap``: anything with the buffer
    protocol, read without a copy), or a binary file object (read in chunks).
    Messages are found as ``scan_messages`` finds them: from each "BUFR"
    marker, by the length that section 0 declares; what lies between them is
    skipped. Editions 2, 3 and 4 are read.

    ``definitions`` is the ecCodes definitions root that ``Message.decode()``
    chooses tables under, or several: a colon-separated string or a sequence
    of paths, where each table file comes from the first root that holds it
    (a centre's local tables put before the system's, say). By default the
    roots of ``$ECCODES_DEFINITION_PATH``, else
    ``/usr/share/eccodes/definitions``. A message naming master tables that
    no root holds is decoded with the nearest newer version present, else
    the newest older one, with a ``TableVersionWarning`` once per pair of
    versions.

    ``on_error`` says what a message that cannot be read does: ``"raise"``
    raises ``MessageError`` after yielding the messages before it, ``"skip"``
    passes over it, ``"warn"`` passes over it with a ``MessageWarning``. A
    failed message still takes its index, so indexes stay file positions.
    """
    if on_error not in _ON_ERROR:
        raise ValueError(f"on_error must be one of {', '.join(map(repr, _ON_ERROR))}, "
                         f"not {on_error!r}")
    return _handled(read_outcomes(source, definitions=definitions), on_error)


def _handled(outcomes: Iterator[Message | MessageError], on_error: str) -> Iterator[Message]:
    for outcome in outcomes:
        if isinstance(outcome, Message):
            yield outcome
        elif on_error == "raise":
            raise outcome
        elif on_error == "warn":
            warnings.warn(MessageWarning(outcome), stacklevel=2)


def read_outcomes(source: Source, *, definitions: Definitions = None
                  ) -> Iterator[Message | MessageError]:
    """As ``read_messages``, but a message that cannot be read comes as its
    ``MessageError``, in its place, and the reading goes on. The source itself
    failing (a file that cannot be opened or read) still raises."""
    return (outcome for outcome, _ in read_outcomes_and_ends(source, definitions=definitions))


def _definitions_path(definitions: Definitions) -> str | None:
    """The roots as one colon-separated string, as ``Message`` keeps them."""
    if definitions is None:
        return None
    if isinstance(definitions, (str, bytes, os.PathLike)):
        return os.fsdecode(definitions)
    roots = [os.fsdecode(root) for root in definitions]
    if not roots:
        raise ValueError("definitions names no root")
    return os.pathsep.join(roots)


def read_outcomes_and_ends(source: Source, *, definitions: Definitions = None
                           ) -> Iterator[tuple[Message | MessageError, bool]]:
    """As ``read_outcomes``, each with whether it is the end of the source
    cut short inside a message (what the command line reports apart)."""
    root = _definitions_path(definitions)
    if isinstance(source, (str, os.PathLike)):
        return _read_path(os.fsdecode(source), root)
    if _has_buffer(source):
        return _read_chunks(None, source, None, root)
    read = getattr(source, "read", None)
    if callable(read):
        name = getattr(source, "name", None)
        return _read_chunks(_reader_of(source), None, name if isinstance(name, str) else None,
                            root)
    raise TypeError("source must be a path, a bytes-like object or a binary file object, "
                    f"not {type(source).__name__}")


def _has_buffer(source: object) -> bool:
    try:
        memoryview(source)  # type: ignore[arg-type]
    except TypeError:
        return False
    return True


def _read_path(path: str, root: str | None) -> Iterator[tuple[Message | MessageError, bool]]:
    with open(path, "rb", buffering=0) as file:
        yield from _read_chunks(_reader_of(file), None, path, root)


def _reader_of(file: object) -> Callable[[int], bytes]:
    """read(n) -> at most n octets, b"" only at the end, for a binary file object."""
    read = file.read  # type: ignore[attr-defined]

    def read_bytes(size: int) -> bytes:
        data = read(size)
        if data is None:  # a non-blocking stream with nothing ready yet
            raise BlockingIOError("the stream has no data ready (it is non-blocking)")
        if isinstance(data, str):
            raise TypeError("the file is open in text mode; open it in binary mode ('rb')")
        return bytes(data) if not isinstance(data, bytes) else data

    return read_bytes


def _read_chunks(read: Callable[[int], bytes] | None, whole: Any,
                 name: str | None, root: str | None
                 ) -> Iterator[tuple[Message | MessageError, bool]]:
    """The messages of ``whole`` (one buffer, final) or of what ``read`` gives."""
    buffer: Any = whole if whole is not None else b""
    final = whole is not None
    base = 0  # offset in the source of buffer[0]
    start = 0
    index = 0
    if not final:
        assert read is not None
        buffer, final = _more(read, b"", 1, CHUNK_SIZE)
    while True:
        messages, next_start, problem = _quorvel.next_messages(
            buffer, start, final, index, base, name, root)
        for found in messages:
            yield found, False
        index += len(messages)
        start = next_start
        if problem is None:
            if next_start < len(buffer) - (0 if final else 3):
                continue  # the step made its most messages: go on in the same buffer
            if final:
                return
            assert read is not None
            # The last octets are kept only when a marker may begin in them,
            # so that a new chunk is mostly used as read, not copied.
            kept = buffer[next_start:]
            if not bytes(kept).endswith((b"B", b"BU", b"BUF")):
                next_start += len(kept)
                kept = b""
            base += next_start
            buffer, final = _more(read, kept, len(kept) + 1, CHUNK_SIZE)
            start = 0
            continue
        kind, offset = problem[0], problem[1]
        if kind == "more":
            assert read is not None
            base += offset
            needed = problem[2]
            assert isinstance(needed, int)
            # Only the rest of this message is read: the buffer holds it
            # alone, and the next chunk starts after it.
            buffer, final = _more(read, buffer[offset:], needed, needed)
            start = 0
            continue
        # ("message", offset, length, reason), or ("truncated", offset, reason)
        # when the source ends inside the message.
        reason = problem[-1]
        assert isinstance(reason, str)
        yield MessageError(name, index, base + offset, reason), kind == "truncated"
        index += 1
        if kind == "truncated":
            return


def _more(read: Callable[[int], bytes], kept: bytes | memoryview, wanted: int,
          asked: int) -> tuple[bytes, bool]:
    """``kept`` followed by what ``read`` gives, until at least ``wanted``
    octets are held or the source ends; and whether it ended. Reads ask for
    what is missing of ``asked`` octets in all, but a pipe or socket may give
    less: what it gave is used at once, so that messages arriving on a stream
    are not held back."""
    parts = [bytes(kept)] if len(kept) else []
    held = len(kept)
    while held < wanted:
        data = read(max(asked - held, 1))
        if not data:
            return b"".join(parts), True
        parts.append(data)
        held += len(data)
    return (parts[0] if len(parts) == 1 else b"".join(parts)), False
