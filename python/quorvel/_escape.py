"""Text from a file or a table made safe to print: no control character reaches
the terminal, and what goes out is always valid UTF-8 and valid JSON.

File names, table names, units, meanings and error reasons all pass through
``printable``; JSON text passes through ``json_text`` or ``json_safe``.
"""

from __future__ import annotations

import json
import re
from typing import Any

# C0 controls (ESC, BEL, newline ...), DEL, C1 controls (a lone 0x9b is CSI to
# some terminals), and the lone surrogates Python uses for the undecodable
# bytes of a file name, which no UTF-8 stream can carry.
_UNSAFE = re.compile("[\x00-\x1f\x7f-\x9f\ud800-\udfff]")

# What json.dumps(ensure_ascii=False) leaves raw and a terminal or a UTF-8
# stream cannot take. C0 controls it escapes itself.
_JSON_UNSAFE = re.compile("[\x7f-\x9f\ud800-\udfff]")

_NAMED = {"\n": "\\n", "\r": "\\r", "\t": "\\t"}

_encode_string = json.JSONEncoder(ensure_ascii=False).encode
_encode = json.JSONEncoder(ensure_ascii=False, allow_nan=False).encode


def _escaped(match: re.Match[str]) -> str:
    char = match.group()
    named = _NAMED.get(char)
    if named is not None:
        return named
    code = ord(char)
    if 0xDC80 <= code <= 0xDCFF:
        # The byte of a file name that was not UTF-8, shown as that byte.
        return f"\\x{code - 0xDC00:02x}"
    return f"\\x{code:02x}" if code <= 0xFF else f"\\u{code:04x}"


def printable(text: str) -> str:
    """``text`` with every control character and lone surrogate written as
    ``\\n``, ``\\t``, ``\\r``, ``\\xNN`` or ``\\uNNNN``; other text unchanged."""
    if _UNSAFE.search(text) is None:
        return text
    return _UNSAFE.sub(_escaped, text)


def _json_escaped(match: re.Match[str]) -> str:
    return f"\\u{ord(match.group()):04x}"


def json_safe(encoded: str) -> str:
    """JSON text with the characters a terminal or UTF-8 cannot take escaped.

    They can only stand inside strings, where ``\\uNNNN`` means the same, so
    the document reads back to the same value.
    """
    if _JSON_UNSAFE.search(encoded) is None:
        return encoded
    return _JSON_UNSAFE.sub(_json_escaped, encoded)


def json_text(text: str) -> str:
    """A string as a JSON string literal, safe to print."""
    return json_safe(_encode_string(text))


def json_dumps(item: Any) -> str:
    """``item`` as JSON, safe to print; raises ``ValueError`` for NaN or an infinity."""
    return json_safe(_encode(item))
