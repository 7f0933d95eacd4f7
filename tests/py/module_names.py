"""The public names of `_quorvel`, shared by the tests that must cover each
one (registration, documentation, leak checks).

Nothing here holds tests.
"""

from __future__ import annotations

import _quorvel

# Every class and function the module registers, in registration order.
CLASSES = [
    "BufrMessage",
    "DecodedValue",
    "Descriptor",
    "ElementDefinition",
    "SequenceDefinition",
    "TableSet",
    "Message",
    "MessageError",
    "DecodedMessage",
    "TableVersionWarning",
]
FUNCTIONS = [
    "parse_bytes",
    "parse_file",
    "parse_all_bytes",
    "parse_all_file",
    "expand_descriptors",
    "decode_values",
    "decode_values_with_tables",
    "decode_values_with_definitions",
    "scan_messages",
    "_table_cache_counts",
    "next_messages",
    "_restore_message",
    "_restore_bufr_message",
    "_restore_decoded_value",
]
CONSTANTS = ["ASSOCIATED_FIELD_CODE", "OPERATOR_NAME", "INSERTED_TEXT_NAME",
             "UNKNOWN_ELEMENT_NAME", "BUFR_MESSAGE_FIELDS"]


def entry_points() -> set[str]:
    """Every public function, class, method and attribute the module has, the
    members of a class as "Class.member"."""
    names = set()
    for name in dir(_quorvel):
        if name.startswith("_"):
            continue
        names.add(name)
        value = getattr(_quorvel, name)
        if isinstance(value, type):
            # Members an exception class inherits (args, with_traceback) are
            # Python's, not ours.
            inherited = set().union(*(dir(base) for base in value.__mro__[1:]))
            names.update(f"{name}.{member}" for member in dir(value)
                         if not member.startswith("_") and member not in inherited)
    return names
