"""A one-line progress bar on a terminal, for runs over many files."""

from __future__ import annotations

import shutil
from typing import TextIO

from quorvel._escape import printable

# Runs over at most this many files finish too soon to need a bar.
PROGRESS_MIN_FILES = 10

_BAR_WIDTH = 24
_CLEAR_LINE = "\r\x1b[K"


class Progress:
    """Draws "[####    ] done/total name" in place; shown only when ``stream``
    is a terminal and the run covers more than ``PROGRESS_MIN_FILES`` files.

    Call ``clear`` before writing anything else to the terminal, so that no
    line of output starts behind the bar.
    """

    def __init__(self, total: int, stream: TextIO) -> None:
        self._total = total
        self._stream = stream
        self._shown = False
        self.enabled = total > PROGRESS_MIN_FILES and _is_terminal(stream)

    def update(self, done: int, name: str) -> None:
        if not self.enabled:
            return
        filled = _BAR_WIDTH * done // self._total
        line = f"[{'#' * filled}{' ' * (_BAR_WIDTH - filled)}] {done}/{self._total} {printable(name)}"
        columns = shutil.get_terminal_size().columns
        self._stream.write(_CLEAR_LINE + line[: max(columns - 1, 0)])
        self._stream.flush()
        self._shown = True

    def clear(self) -> None:
        if self._shown:
            self._stream.write(_CLEAR_LINE)
            self._stream.flush()
            self._shown = False


def _is_terminal(stream: TextIO) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False
