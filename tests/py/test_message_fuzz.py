"""Any input gives a result or ValueError; built messages read back as built."""

from hypothesis import given, settings
from hypothesis import strategies as st

from _quorvel import BufrMessage, parse_all_bytes, parse_bytes
from builder import build_message

u8s = st.integers(0, 0xFF)
u16s = st.integers(0, 0xFFFF)
descriptor_codes = st.builds(
    lambda f, x, y: f * 100000 + x * 1000 + y, st.integers(0, 3), st.integers(0, 63), u8s
)

message_fields = st.fixed_dictionaries(
    {
        "master_table_number": u8s,
        "originating_centre": u16s,
        "originating_subcentre": u16s,
        "update_sequence_number": u8s,
        "data_category": u8s,
        "international_data_subcategory": u8s,
        "local_data_subcategory": u8s,
        "master_tables_version_number": u8s,
        "local_tables_version_number": u8s,
        "typical_year": u16s,
        "typical_month": u8s,
        "typical_day": u8s,
        "typical_hour": u8s,
        "typical_minute": u8s,
        "typical_second": u8s,
        "number_of_subsets": u16s,
        "observed": st.booleans(),
        "compressed": st.booleans(),
        "section1_extra": st.binary(max_size=6),
        "section2": st.none() | st.binary(max_size=12),
        "descriptors": st.lists(descriptor_codes, max_size=12),
        "data": st.binary(max_size=40),
        "trailing": st.binary(max_size=4),
    }
)
built_messages = message_fields.map(lambda fields: build_message(**fields))

# Pieces that steer random input into the parser's deeper checks.
fragments = st.sampled_from(
    [b"BUFR", b"7777", b"\x04", b"\x00", b"\x00\x00\x16", b"\x00\x00\x07", b"\x00\x00\x04", b"\xff"]
)
fragmented = st.lists(fragments | st.binary(max_size=6), max_size=30).map(b"".join)


@st.composite
def mutated_messages(draw):
    data = bytearray(draw(built_messages).data)
    for _ in range(draw(st.integers(0, 4))):
        kind = draw(st.sampled_from(["set", "delete", "insert", "cut"]))
        at = draw(st.integers(0, len(data)))
        if kind == "set" and at < len(data):
            data[at] = draw(u8s)
        elif kind == "delete":
            del data[at : at + draw(st.integers(1, 4))]
        elif kind == "insert":
            data[at:at] = draw(st.binary(min_size=1, max_size=4))
        elif kind == "cut":
            del data[at:]
    if draw(st.booleans()) and len(data) >= 7:
        # Keep the total length right so that the deeper checks run.
        data[4:7] = len(data).to_bytes(3, "big")
    prefix = draw(st.binary(max_size=3))
    return prefix + bytes(data) if draw(st.booleans()) else bytes(data)


def check_one(data):
    try:
        message = parse_bytes(data)
    except ValueError:
        return
    # Whatever was accepted is an edition-4 message whose sections fit the buffer.
    assert type(message) is BufrMessage
    assert message.total_length == len(data)
    assert data[:4] == b"BUFR" and data[7] == 4
    section4 = message.section4_data_offset - 4
    section5 = section4 + message.section4_length
    assert data[section5 : section5 + 4] == b"7777"
    assert message.section4_data_offset + message.section4_data_length <= len(data)
    if message.section4_length >= 4:
        assert message.section4_data_offset + message.section4_data_length == section5
    assert len(message.unexpanded_descriptors) == (message.section3_length - 7) // 2


def check_all(data):
    try:
        messages = parse_all_bytes(data)
    except ValueError:
        return
    assert type(messages) is list
    assert all(type(m) is BufrMessage and m.edition == 4 for m in messages)
    assert sum(m.total_length for m in messages) <= len(data)


@settings(deadline=None)
@given(st.binary(max_size=200) | fragmented)
def test_any_bytes_give_a_result_or_value_error(data):
    check_one(data)
    check_all(data)


@settings(deadline=None)
@given(mutated_messages())
def test_mutated_messages_give_a_result_or_value_error(data):
    check_one(data)
    check_all(data)


@settings(deadline=None)
@given(message_fields)
def test_built_messages_read_back(fields):
    built = build_message(**fields)
    message = parse_bytes(built.data)
    for name in (
        "master_table_number", "originating_centre", "originating_subcentre",
        "update_sequence_number", "data_category", "international_data_subcategory",
        "local_data_subcategory", "master_tables_version_number", "local_tables_version_number",
        "typical_year", "typical_month", "typical_day", "typical_hour", "typical_minute",
        "typical_second", "number_of_subsets",
    ):
        assert getattr(message, name) == fields[name], name
    assert message.observed_data == fields["observed"]
    assert message.compressed_data == fields["compressed"]
    assert message.local_section_present == (fields["section2"] is not None)
    assert message.unexpanded_descriptors == fields["descriptors"]
    assert message.total_length == len(built)
    assert message.section4_data_offset == built.layout.section4_data
    assert message.section4_data_length == len(fields["data"])
    assert built.data[message.section4_data_offset :][: len(fields["data"])] == fields["data"]
    assert [m.originating_centre for m in parse_all_bytes(b"junk" + built.data * 2)] == [
        fields["originating_centre"]
    ] * 2
