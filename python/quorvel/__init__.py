"""quorvel: an exact, fast reader of WMO FM-94 BUFR edition-4 messages.

The work is done by the native module ``_quorvel``; this package re-exports
its classes and functions and adds the ``quorvel`` command line.
"""

from _quorvel import (
    BufrMessage,
    DecodedValue,
    Descriptor,
    ElementDefinition,
    SequenceDefinition,
    TableSet,
    decode_values,
    decode_values_with_definitions,
    decode_values_with_tables,
    expand_descriptors,
    parse_all_bytes,
    parse_all_file,
    parse_bytes,
    parse_file,
)

__all__ = [
    "BufrMessage",
    "DecodedValue",
    "Descriptor",
    "ElementDefinition",
    "SequenceDefinition",
    "TableSet",
    "decode_values",
    "decode_values_with_definitions",
    "decode_values_with_tables",
    "expand_descriptors",
    "parse_all_bytes",
    "parse_all_file",
    "parse_bytes",
    "parse_file",
]
