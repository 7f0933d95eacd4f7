"""The message builder that the other tests rely on: bit packing and layout."""

import pytest

from builder import BitWriter, build_message, descriptor_octets


def reference_bits(writes):
    """The writes as a string of '0'/'1', one bit at a time."""
    return "".join(format(value, f"0{width}b") if width else "" for value, width in writes)


def octets_of(bits):
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[i : i + 8], 2) for i in range(0, len(bits), 8))


@pytest.mark.parametrize(
    "writes",
    [
        [],
        [(0, 0)],
        [(1, 1)],
        [(0, 1), (1, 1), (1, 1)],
        [(0x5, 3), (0x1F, 5)],
        [(1, 1), (0xFFFFFFFFFFFFFFFF, 64)],
        [(0, 7), (0x8000000000000001, 64), (0, 0), (3, 2)],
        [(0x1234, 13), (0, 0), (0x7F, 7), (0xABCDEF, 24)],
    ],
)
def test_bit_writer_matches_bit_by_bit_reference(writes):
    writer = BitWriter()
    for value, width in writes:
        writer.write(value, width)
    bits = reference_bits(writes)
    assert writer.bit_count == len(bits)
    assert writer.to_bytes() == octets_of(bits)
    assert bytes(writer) == writer.to_bytes()


@pytest.mark.parametrize("value, width", [(2, 1), (1, 0), (-1, 8), (0, 65), (0, -1), (1 << 64, 64)])
def test_bit_writer_refuses_values_that_do_not_fit(value, width):
    with pytest.raises(ValueError):
        BitWriter().write(value, width)


@pytest.mark.parametrize("code", [64000, 256, 400000, -1])
def test_descriptor_octets_refuses_codes_without_a_16_bit_form(code):
    with pytest.raises(ValueError):
        descriptor_octets(code)


def test_layout_of_a_message_with_every_section():
    built = build_message(
        section1_extra=b"\x01\x02", section2=b"abc", descriptors=[1001], data=b"\x09" * 5
    )
    data, layout = built.data, built.layout
    assert data[:4] == b"BUFR" and data[7] == 4
    assert int.from_bytes(data[4:7], "big") == len(data)
    assert layout.section1 == 8
    assert layout.section2 == 8 + 24
    assert layout.section3 == layout.section2 + 7
    assert layout.section4 == layout.section3 + 9
    assert layout.section5 == layout.section4 + 9
    assert data[layout.section5 :] == b"7777"
    assert layout.end == len(data)
    for offset, length in [
        (layout.section1, layout.section1_length),
        (layout.section2, layout.section2_length),
        (layout.section3, layout.section3_length),
        (layout.section4, layout.section4_length),
    ]:
        assert int.from_bytes(data[offset : offset + 3], "big") == length
    assert data[17] == 0x80


def test_overrides_change_only_their_field():
    good = build_message(descriptors=[1001], data=b"\x00\x01")
    bad = build_message(descriptors=[1001], data=b"\x00\x01", section3_length=99)
    s3 = good.layout.section3
    differing = [i for i, (a, b) in enumerate(zip(good.data, bad.data)) if a != b]
    assert len(good) == len(bad)
    assert differing and all(s3 <= i < s3 + 3 for i in differing)
