"""quorvel: an exact, fast reader of WMO FM-94 BUFR messages.

``read_messages`` is where most work starts: it gives the messages of a
file, a buffer or a stream one by one (editions 2, 3 and 4), and each
``Message`` decodes with the tables its header names. The native module
``_quorvel`` does the work; this package re-exports its classes and
functions and adds the ``quorvel`` command line.
"""

from _quorvel import (
    BufrMessage,
    DecodedMessage,
    DecodedValue,
    Descriptor,
    ElementDefinition,
    Message,
    MessageError,
    SequenceDefinition,
    TableSet,
    TableVersionWarning,
    decode_values,
    decode_values_with_definitions,
    decode_values_with_tables,
    expand_descriptors,
    parse_all_bytes,
    parse_all_file,
    parse_bytes,
    parse_file,
)

from quorvel._reader import MessageWarning, read_messages

__all__ = [
    "BufrMessage",
    "DecodedMessage",
    "DecodedValue",
    "Descriptor",
    "ElementDefinition",
    "Message",
    "MessageError",
    "MessageWarning",
    "SequenceDefinition",
    "TableSet",
    "TableVersionWarning",
    "decode_values",
    "decode_values_with_definitions",
    "decode_values_with_tables",
    "expand_descriptors",
    "parse_all_bytes",
    "parse_all_file",
    "parse_bytes",
    "parse_file",
    "read_messages",
]
