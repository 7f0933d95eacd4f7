"""quorvel: an exact, fast reader of WMO FM-94 BUFR edition-4 messages.

The work is done by the native module ``_quorvel``; this package re-exports
it and adds the ``quorvel`` command line.
"""

from _quorvel import (
    BufrMessage,
    Descriptor,
    parse_all_bytes,
    parse_all_file,
    parse_bytes,
    parse_file,
)

__all__ = [
    "BufrMessage",
    "Descriptor",
    "parse_all_bytes",
    "parse_all_file",
    "parse_bytes",
    "parse_file",
]
