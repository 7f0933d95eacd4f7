"""parse_bytes on one message: every check in its order, and the BufrMessage it returns."""

import types

import pytest

import _quorvel
from _quorvel import BufrMessage, parse_bytes
from builder import build_message, section0, u16, u24, with_total_length

TOO_SHORT = "message is too short to be BUFR"
MISSING_MARKER = "missing BUFR marker"
BAD_TERMINATOR = "section 5 terminator is not 7777"


def edition_error(edition):
    return f"unsupported BUFR edition {edition}; only edition 4 is implemented"


def length_error(declared, actual):
    return f"declared length {declared} does not match buffer length {actual}"


def truncated(section, offset):
    return f"section {section} at offset {offset} is truncated"


SECTION1_TRUNCATED = truncated(1, 8)

BASE_FIELDS = dict(descriptors=[301001, 12101], data=b"\x01\x02\x03")
BASE = build_message(**BASE_FIELDS)
WITH_SECTION2 = build_message(section2=b"local", descriptors=[1001], data=b"\xaa" * 6)
L = len(BASE)
LAYOUT = BASE.layout


def broken(**overrides):
    """The base message with `overrides` applied; its layout is that of BASE."""
    return build_message(**BASE_FIELDS, **overrides).data


def raw_header(total_length, section1_length, fill_to):
    """Section 0 and a section-1 length field, zero-filled to `fill_to` octets."""
    data = section0(total_length) + u24(section1_length)
    return data + bytes(fill_to - len(data))


def assert_refused(data, message):
    with pytest.raises(ValueError) as info:
        parse_bytes(data)
    assert str(info.value) == message
    assert info.value.args == (message,)


# Each case breaks the message so that one check, in parse order, is the first to fail.
PARSE_FAILURES = [
    # Fewer than eight octets.
    ("empty", b"", TOO_SHORT),
    ("one octet", b"B", TOO_SHORT),
    ("marker only", b"BUFR", TOO_SHORT),
    ("seven octets of a message", BASE.data[:7], TOO_SHORT),
    ("seven junk octets", b"\xff" * 7, TOO_SHORT),
    # The marker.
    ("eight zero octets", bytes(8), MISSING_MARKER),
    ("marker misspelt", b"BUFX" + BASE.data[4:], MISSING_MARKER),
    ("marker in lower case", b"bufr" + BASE.data[4:], MISSING_MARKER),
    ("marker one octet late", b" " + BASE.data, MISSING_MARKER),
    # The edition, checked before the total length.
    ("edition 3", broken(edition=3), edition_error(3)),
    ("edition 0", broken(edition=0), edition_error(0)),
    ("edition 5", broken(edition=5), edition_error(5)),
    ("edition 255", broken(edition=255), edition_error(255)),
    ("edition 3 with a wrong total length", broken(edition=3, total_length=7), edition_error(3)),
    # The total length.
    ("declared one more", broken(total_length=L + 1), length_error(L + 1, L)),
    ("declared one less", broken(total_length=L - 1), length_error(L - 1, L)),
    ("declared zero", broken(total_length=0), length_error(0, L)),
    ("declared maximum", broken(total_length=0xFFFFFF), length_error(0xFFFFFF, L)),
    ("one octet appended", BASE.data + b"\0", length_error(L, L + 1)),
    # Section 1: its length field, then its declared end.
    ("eight octets", section0(8), SECTION1_TRUNCATED),
    ("nine octets", section0(9) + b"\0", SECTION1_TRUNCATED),
    ("ten octets", section0(10) + b"\0\0", SECTION1_TRUNCATED),
    ("section 1 one octet too long", broken(section1_length=L - 8 + 1),
     SECTION1_TRUNCATED),
    ("section 1 of maximum length", broken(section1_length=0xFFFFFF),
     SECTION1_TRUNCATED),
    # A short section 1 may end before the fixed fields: the flags octet (17),
    # then the typical year (23, 24) lie outside the buffer.
    ("flags octet outside", raw_header(12, 3, 12), SECTION1_TRUNCATED),
    ("flags octet just outside", raw_header(17, 3, 17), SECTION1_TRUNCATED),
    ("typical year outside", raw_header(18, 3, 18), truncated(0, 23)),
    ("typical year half outside", raw_header(24, 3, 24), truncated(0, 23)),
]


def _section2_cases():
    """Section 2, read only when the flags octet is non-zero."""
    probe = build_message(section2=b"xy")
    s2, length = probe.layout.section2, len(probe)
    no_section2 = build_message(flags=0x01)
    return [
        ("section 2 one octet too long",
         build_message(section2=b"xy", section2_length=length - s2 + 1).data, truncated(2, s2)),
        ("section 2 of maximum length",
         build_message(section2=b"xy", section2_length=0xFFFFFF).data, truncated(2, s2)),
        # The section-1 length puts section 2 two octets before the end.
        ("section 2 length field outside",
         build_message(flags=0x01, section1_length=len(no_section2) - 8 - 2).data,
         truncated(2, len(no_section2) - 2)),
    ]


def _section3_to_5_cases():
    """Sections 3 to 5, placed by the lengths before them."""
    s3, s4, s5 = LAYOUT.section3, LAYOUT.section4, LAYOUT.section5
    return [
        ("section 3 length 6", broken(section3_length=6), truncated(3, s3)),
        ("section 3 length 0", broken(section3_length=0), truncated(3, s3)),
        ("section 3 one octet too long",
         broken(section3_length=L - s3 + 1), truncated(3, s3)),
        ("section 3 length field outside",
         broken(section1_length=L - 8 - 2), truncated(3, L - 2)),
        ("section 4 one octet too long",
         broken(section4_length=L - s4 + 1), truncated(4, s4)),
        ("section 4 of maximum length",
         broken(section4_length=0xFFFFFF), truncated(4, s4)),
        ("section 4 length field outside",
         broken(section3_length=L - s3 - 2), truncated(4, L - 2)),
        ("section 5 three octets long",
         broken(section4_length=L - s4 - 3), truncated(5, L - 3)),
        ("section 5 at the very end",
         broken(section4_length=L - s4), truncated(5, L)),
        ("terminator 7776", broken(terminator=b"7776"), BAD_TERMINATOR),
        ("terminator zero", broken(terminator=b"\0\0\0\0"), BAD_TERMINATOR),
        ("section 4 one octet short",
         broken(section4_length=s5 - s4 - 1, trailing=b"\0"), BAD_TERMINATOR),
        # A whole message within 30 octets: the last fixed section-1 fields
        # (offsets 25 to 29) would lie past its end.
        ("message shorter than the fixed section 1",
         section0(26) + u24(3) + u24(7) + b"\0" + u16(1) + b"\0" + u24(4) + b"\0" + b"7777",
         SECTION1_TRUNCATED),
    ]


PARSE_FAILURES += _section2_cases() + _section3_to_5_cases()


@pytest.mark.parametrize(
    "data, message",
    [case[1:] for case in PARSE_FAILURES],
    ids=[case[0] for case in PARSE_FAILURES],
)
def test_each_check_reports_its_error(data, message):
    assert_refused(data, message)


# Two faults in one message: the one checked first is reported.
FIRST_FAULT_WINS = [
    ("too short before marker", b"XXXX\0\0\x07", TOO_SHORT),
    ("marker before edition", b"BUFX" + broken(edition=3)[4:], MISSING_MARKER),
    ("edition before length", broken(edition=2, total_length=L + 5), edition_error(2)),
    ("length before section 1", broken(total_length=1, section1_length=0xFFFFFF),
     length_error(1, L)),
    ("section 1 before section 3", broken(section1_length=L, section3_length=0),
     SECTION1_TRUNCATED),
    ("section 3 before terminator", broken(section3_length=2, terminator=b"XXXX"),
     truncated(3, LAYOUT.section3)),
    ("section 4 before terminator", broken(section4_length=0xFFFF, terminator=b"XXXX"),
     truncated(4, LAYOUT.section4)),
    ("length before terminator", broken(total_length=3, terminator=b"XXXX"), length_error(3, L)),
]


@pytest.mark.parametrize(
    "data, message",
    [case[1:] for case in FIRST_FAULT_WINS],
    ids=[case[0] for case in FIRST_FAULT_WINS],
)
def test_first_fault_in_parse_order_wins(data, message):
    assert_refused(data, message)


def expected_cut_error(layout, cut):
    """The error for a message cut to `cut` octets with its total length rewritten."""
    if cut <= 7:
        return TOO_SHORT
    # Section 1 is 22 octets, so section 2 or 3 starts at 30.
    if cut < (layout.section2 if layout.section2 is not None else layout.section3):
        return SECTION1_TRUNCATED
    if layout.section2 is not None and cut < layout.section3:
        return truncated(2, layout.section2)
    if cut < layout.section4:
        return truncated(3, layout.section3)
    if cut < layout.section5:
        return truncated(4, layout.section4)
    return truncated(5, layout.section5)


@pytest.mark.parametrize(
    "built", [BASE, WITH_SECTION2], ids=["without section 2", "with section 2"]
)
def test_every_cut_names_the_section_it_falls_in(built):
    for cut in range(len(built)):
        data = built.data[:cut]
        if cut >= 7:
            data = with_total_length(data, cut)
        with pytest.raises(ValueError) as info:
            parse_bytes(data)
        assert str(info.value) == expected_cut_error(built.layout, cut), f"cut at {cut}"


# ---------------------------------------------------------------------------
# What a successful parse returns.

FIELDS = [
    "total_length",
    "edition",
    "section1_length",
    "master_table_number",
    "originating_centre",
    "originating_subcentre",
    "update_sequence_number",
    "local_section_present",
    "data_category",
    "international_data_subcategory",
    "local_data_subcategory",
    "master_tables_version_number",
    "local_tables_version_number",
    "typical_year",
    "typical_month",
    "typical_day",
    "typical_hour",
    "typical_minute",
    "typical_second",
    "section2_length",
    "section3_length",
    "number_of_subsets",
    "observed_data",
    "compressed_data",
    "unexpanded_descriptors",
    "section4_length",
    "section4_data_offset",
    "section4_data_length",
]
BOOL_FIELDS = {"local_section_present", "observed_data", "compressed_data"}

# Header values, all different from each other, so a field read from a
# neighbour's offset or with swapped octets shows.
LOW_VALUES = dict(
    master_table_number=1,
    originating_centre=0x0203,
    originating_subcentre=0x0405,
    update_sequence_number=6,
    data_category=7,
    international_data_subcategory=8,
    local_data_subcategory=9,
    master_tables_version_number=10,
    local_tables_version_number=11,
    typical_year=0x07E8,
    typical_month=12,
    typical_day=13,
    typical_hour=14,
    typical_minute=15,
    typical_second=16,
    number_of_subsets=0x1112,
)
# Every octet with its top bit set, so a sign-extending read shows.
HIGH_VALUES = dict(
    master_table_number=0x81,
    originating_centre=0xFFFE,
    originating_subcentre=0x8382,
    update_sequence_number=0x84,
    data_category=0x85,
    international_data_subcategory=0x86,
    local_data_subcategory=0x87,
    master_tables_version_number=0x88,
    local_tables_version_number=0x89,
    typical_year=0xFFFF,
    typical_month=0x8A,
    typical_day=0x8B,
    typical_hour=0x8C,
    typical_minute=0x8D,
    typical_second=0x8E,
    number_of_subsets=0xFFFF,
)

HEADER_CASES = [
    pytest.param(
        dict(LOW_VALUES, section1_extra=b"\x01\x02\x03", section2=b"local", observed=True,
             compressed=False, descriptors=[1001, 301011, 363255], data=bytes(range(9))),
        id="low values, section 2, longer section 1",
    ),
    pytest.param(
        dict(HIGH_VALUES, observed=False, compressed=True, descriptors=[], data=b""),
        id="high values, no section 2, empty lists",
    ),
    pytest.param(
        dict(LOW_VALUES, observed=True, compressed=True, descriptors=[307080],
             data=b"\xff" * 300, trailing=b"\0\0"),
        id="both flags, long data, trailing octets",
    ),
]


def expected_fields(fields, built):
    layout = built.layout
    return dict(
        {name: fields[name] for name in LOW_VALUES},
        total_length=len(built),
        edition=4,
        section1_length=layout.section1_length,
        local_section_present=fields.get("section2") is not None,
        section2_length=layout.section2_length,
        section3_length=layout.section3_length,
        observed_data=fields["observed"],
        compressed_data=fields["compressed"],
        unexpanded_descriptors=list(fields["descriptors"]),
        section4_length=layout.section4_length,
        section4_data_offset=layout.section4_data,
        section4_data_length=len(fields["data"]),
    )


@pytest.mark.parametrize("fields", HEADER_CASES)
def test_every_attribute_reads_its_own_field(fields):
    built = build_message(**fields)
    message = parse_bytes(built.data)
    expected = expected_fields(fields, built)
    assert set(expected) == set(FIELDS)
    assert {name: getattr(message, name) for name in FIELDS} == expected


@pytest.mark.parametrize("fields", HEADER_CASES)
def test_attribute_types(fields):
    message = parse_bytes(build_message(**fields).data)
    for name in FIELDS:
        value = getattr(message, name)
        if name in BOOL_FIELDS:
            assert type(value) is bool, name
        elif name == "unexpanded_descriptors":
            assert type(value) is list
            assert all(type(code) is int for code in value)
        else:
            assert type(value) is int, name


def test_class_lists_the_attributes_in_field_order():
    getters = [
        name for name, value in vars(BufrMessage).items()
        if isinstance(value, types.GetSetDescriptorType)
    ]
    assert getters == FIELDS


@pytest.mark.parametrize(
    "octets, codes",
    [
        (b"", []),
        (b"\xc1\x02", [301002]),
        (b"\x00\x01", [1]),
        (b"\x00\x00", [0]),
        (b"\xff\xff", [363255]),
        (b"\x3f\xff", [63255]),
        (b"\x40\x00", [100000]),
        (b"\x81\x00", [201000]),
        (b"\x01\x01\xc1\x0b\x00\x01", [1001, 301011, 1]),
        # An odd descriptor area ends in a padding octet, whatever its value.
        (b"\x00", []),
        (b"\xaa", []),
        (b"\xc1\x02\xff", [301002]),
        (b"\x01\x01\xc7\x50\x00", [1001, 307080]),
    ],
)
def test_descriptor_octets_become_codes(octets, codes):
    built = build_message(descriptor_bytes=octets, data=b"\x01")
    message = parse_bytes(built.data)
    assert message.unexpanded_descriptors == codes
    assert message.section3_length == 7 + len(octets)
    assert message.section4_data_offset == built.layout.section4_data


@pytest.mark.parametrize(
    "octet, observed, compressed",
    [
        (0x00, False, False),
        (0x80, True, False),
        (0x40, False, True),
        (0xC0, True, True),
        (0x3F, False, False),
        (0xFF, True, True),
        (0xBF, True, False),
        (0x7F, False, True),
    ],
)
def test_section3_flags_are_independent_bits(octet, observed, compressed):
    message = parse_bytes(build_message(section3_flags=octet).data)
    assert (message.observed_data, message.compressed_data) == (observed, compressed)


@pytest.mark.parametrize("flags", [0x80, 0x01, 0x40, 0xFF])
def test_any_nonzero_section1_flags_octet_means_section2(flags):
    built = build_message(section2=b"abcdef", flags=flags, descriptors=[1001])
    message = parse_bytes(built.data)
    assert message.local_section_present is True
    assert message.section2_length == 4 + 6
    assert message.section3_length == built.layout.section3_length
    assert message.unexpanded_descriptors == [1001]


def test_zero_flags_octet_means_no_section2():
    message = parse_bytes(build_message(flags=0, descriptors=[1001]).data)
    assert message.local_section_present is False
    assert message.section2_length == 0
    assert message.unexpanded_descriptors == [1001]


@pytest.mark.parametrize(
    "section4, data_length",
    [
        # Below four octets, the data area is empty but still placed after a
        # full four-octet header.
        (u24(3), 0),
        (u24(4) + b"\0", 0),
        (u24(5) + b"\0\x01", 1),
    ],
)
def test_section4_data_area(section4, data_length):
    built = build_message(section4=section4)
    message = parse_bytes(built.data)
    assert message.section4_length == len(section4)
    assert message.section4_data_length == data_length
    assert message.section4_data_offset == built.layout.section4 + 4


@pytest.mark.parametrize("trailing", [b"\0", b"junk", b"7777", b"BUFR\0\0\x08\x04"])
def test_octets_after_the_terminator_are_ignored(trailing):
    built = build_message(descriptors=[1001], trailing=trailing)
    message = parse_bytes(built.data)
    assert message.total_length == len(built)
    assert message.unexpanded_descriptors == [1001]
    assert message.section4_length == built.layout.section4_length


def test_descriptor_list_is_new_on_every_access():
    message = parse_bytes(build_message(descriptors=[1001, 301011]).data)
    first = message.unexpanded_descriptors
    second = message.unexpanded_descriptors
    assert first is not second
    first.append(5)
    first[0] = 7
    second.clear()
    assert message.unexpanded_descriptors == [1001, 301011]


def test_empty_descriptor_list_is_new_on_every_access():
    message = parse_bytes(build_message().data)
    first = message.unexpanded_descriptors
    first.append(1)
    assert message.unexpanded_descriptors == []
    assert message.unexpanded_descriptors is not message.unexpanded_descriptors


@pytest.mark.parametrize("name", FIELDS)
def test_attributes_are_read_only(name):
    message = parse_bytes(build_message(descriptors=[1001]).data)
    before = getattr(message, name)
    with pytest.raises(AttributeError):
        setattr(message, name, before)
    with pytest.raises(AttributeError):
        delattr(message, name)
    assert getattr(message, name) == before


def test_no_new_attributes():
    message = parse_bytes(build_message().data)
    with pytest.raises(AttributeError):
        message.extra = 1


@pytest.mark.parametrize("cls", [BufrMessage, _quorvel.Descriptor], ids=lambda c: c.__name__)
def test_classes_are_immutable(cls):
    with pytest.raises(TypeError):
        cls.extra = 1
    with pytest.raises(TypeError):
        cls.__repr__ = lambda self: "changed"


def test_bufr_message_cannot_be_constructed():
    with pytest.raises(TypeError):
        BufrMessage()
    with pytest.raises(TypeError):
        BufrMessage.__new__(BufrMessage)
    message = parse_bytes(build_message().data)
    with pytest.raises(TypeError):
        type(message)()


def test_bufr_message_has_no_equality_hash_or_order_of_its_own():
    for name in ("__eq__", "__ne__", "__hash__", "__lt__", "__le__", "__gt__", "__ge__"):
        assert name not in vars(BufrMessage)
    data = build_message(descriptors=[1001]).data
    first, second = parse_bytes(data), parse_bytes(data)
    assert first == first
    assert first != second
    assert hash(first) == hash(first)
    assert len({first, second}) == 2
    with pytest.raises(TypeError):
        first < second


REPR_CASES = [
    (dict(descriptors=[307080, 1001], data=bytes(71)),
     "BufrMessage(edition=4, length=120, subsets=1, descriptors=[307080, 1001])"),
    (dict(), "BufrMessage(edition=4, length=45, subsets=1, descriptors=[])"),
    (dict(number_of_subsets=0, descriptors=[1]),
     "BufrMessage(edition=4, length=47, subsets=0, descriptors=[1])"),
    (dict(number_of_subsets=65535, descriptors=[0, 363255, 31001], trailing=bytes(1000)),
     "BufrMessage(edition=4, length=1051, subsets=65535, descriptors=[0, 363255, 31001])"),
]


@pytest.mark.parametrize("fields, text", REPR_CASES)
def test_repr(fields, text):
    message = parse_bytes(build_message(**fields).data)
    assert repr(message) == text
    assert str(message) == text
