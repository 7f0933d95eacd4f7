"""Builds BUFR edition-4 messages for tests, octet by octet.

`BitWriter` packs values most significant bit first, the order of section 4.
`build_message` lays out sections 0 to 5 from keyword fields with correct
lengths, or with exactly one field broken through an override, and reports
where each section landed so that tests derive expected offsets instead of
counting octets by hand.

Nothing here imports quorvel: the messages are built from the format alone.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Iterable, Optional, Sequence

MARKER = b"BUFR"
TERMINATOR = b"7777"
SECTION0_LENGTH = 8
SECTION1_OFFSET = SECTION0_LENGTH
# Octets 8..29: length, table and centre numbers, flags, category, versions
# and the typical date and time.
SECTION1_FIXED_LENGTH = 22
SECTION2_HEADER_LENGTH = 4
SECTION3_HEADER_LENGTH = 7
SECTION4_HEADER_LENGTH = 4

# Section 1, offset 17: an optional section 2 follows.
LOCAL_SECTION_FLAG = 0x80
# Section 3 flags octet.
OBSERVED_FLAG = 0x80
COMPRESSED_FLAG = 0x40


class BitWriter:
    """Appends unsigned values most significant bit first.

    The last octet is padded with zero bits on the right.
    """

    def __init__(self) -> None:
        # The bits written so far as text, joined only when the bytes are
        # asked for: shifting one growing integer would make long messages
        # cost the square of their length.
        self._chunks: list[str] = []
        self._bit_count = 0

    @property
    def bit_count(self) -> int:
        return self._bit_count

    def write(self, value: int, width: int) -> "BitWriter":
        """Appends `value` in `width` bits (0 to 64); the value must fit."""
        if not 0 <= width <= 64:
            raise ValueError(f"width {width} is outside 0..64")
        if not 0 <= value < (1 << width):
            raise ValueError(f"value {value} does not fit in {width} bits")
        if width:
            self._chunks.append(format(value, f"0{width}b"))
        self._bit_count += width
        return self

    def write_missing(self, width: int) -> "BitWriter":
        """Appends `width` one bits, the BUFR marking of a missing value."""
        return self.write((1 << width) - 1, width)

    def write_octets(self, data: bytes) -> "BitWriter":
        """Appends each octet in 8 bits, as character data is carried."""
        for octet in data:
            self.write(octet, 8)
        return self

    def pad_to_octet(self) -> "BitWriter":
        return self.write(0, -self._bit_count % 8)

    def to_bytes(self) -> bytes:
        pad = -self._bit_count % 8
        text = "".join(self._chunks) + "0" * pad
        return int(text, 2).to_bytes(len(text) // 8, "big") if text else b""

    def __bytes__(self) -> bytes:
        return self.to_bytes()


def u8(value: int) -> bytes:
    return value.to_bytes(1, "big")


def u16(value: int) -> bytes:
    return value.to_bytes(2, "big")


def u24(value: int) -> bytes:
    return value.to_bytes(3, "big")


def descriptor_octets(code: int) -> bytes:
    """The two section-3 octets of descriptor code FXXYYY."""
    f, x, y = code // 100000, code // 1000 % 100, code % 1000
    if code < 0 or f > 3 or x > 63 or y > 255:
        raise ValueError(f"descriptor {code:06} has no 16-bit form")
    return bytes([f << 6 | x, y])


def section0(total_length: int, edition: int = 4) -> bytes:
    return MARKER + u24(total_length) + u8(edition)


@dataclass(frozen=True)
class Layout:
    """Where the builder put each section, in octets from the message start.

    These are the physical positions; a length override changes the number
    written, not where the following sections were put. `section2` is None
    when no section 2 was written.
    """

    section1: int
    section2: Optional[int]
    section3: int
    section4: int
    section5: int
    end: int

    @property
    def section4_data(self) -> int:
        return self.section4 + SECTION4_HEADER_LENGTH

    @property
    def section1_length(self) -> int:
        return (self.section2 if self.section2 is not None else self.section3) - self.section1

    @property
    def section2_length(self) -> int:
        return 0 if self.section2 is None else self.section3 - self.section2

    @property
    def section3_length(self) -> int:
        return self.section4 - self.section3

    @property
    def section4_length(self) -> int:
        return self.section5 - self.section4


@dataclass(frozen=True)
class BuiltMessage:
    data: bytes
    layout: Layout

    def __bytes__(self) -> bytes:
        return self.data

    def __len__(self) -> int:
        return len(self.data)


def build_message(
    *,
    # Section 1 fields.
    master_table_number: int = 0,
    originating_centre: int = 0,
    originating_subcentre: int = 0,
    update_sequence_number: int = 0,
    data_category: int = 0,
    international_data_subcategory: int = 0,
    local_data_subcategory: int = 0,
    master_tables_version_number: int = 37,
    local_tables_version_number: int = 0,
    typical_year: int = 2024,
    typical_month: int = 1,
    typical_day: int = 1,
    typical_hour: int = 0,
    typical_minute: int = 0,
    typical_second: int = 0,
    section1_extra: bytes = b"",
    # Section 2: its content after the 4-octet header; None leaves it out.
    section2: Optional[bytes] = None,
    # Section 3.
    number_of_subsets: int = 1,
    observed: bool = True,
    compressed: bool = False,
    descriptors: Iterable[int] = (),
    descriptor_bytes: Optional[bytes] = None,
    # Section 4: the data area after the 4-octet header.
    data: bytes = b"",
    # Overrides, each breaking one thing; None keeps the correct value.
    edition: int = 4,
    total_length: Optional[int] = None,
    section1_length: Optional[int] = None,
    section2_length: Optional[int] = None,
    section3_length: Optional[int] = None,
    section4_length: Optional[int] = None,
    flags: Optional[int] = None,
    section3_flags: Optional[int] = None,
    section4: Optional[bytes] = None,
    terminator: bytes = TERMINATOR,
    trailing: bytes = b"",
) -> BuiltMessage:
    """Lays out one edition-4 message.

    Section 1 carries the fixed fields at offsets 8 to 29, then
    `section1_extra`. The flags octet (offset 17) is 0x80 when `section2` is
    given and 0 otherwise; `flags` writes any other value. Descriptors are
    codes FXXYYY; `descriptor_bytes` writes raw octets in their place
    (an odd count included). `section3_flags` replaces the whole section-3
    flags octet built from `observed` and `compressed`. `section4` replaces
    the whole of section 4, length field included. `trailing` octets follow
    the terminator and count in the total length.
    """
    if flags is None:
        flags = LOCAL_SECTION_FLAG if section2 is not None else 0
    section1_body = (
        u8(master_table_number)
        + u16(originating_centre)
        + u16(originating_subcentre)
        + u8(update_sequence_number)
        + u8(flags)
        + u8(data_category)
        + u8(international_data_subcategory)
        + u8(local_data_subcategory)
        + u8(master_tables_version_number)
        + u8(local_tables_version_number)
        + u16(typical_year)
        + u8(typical_month)
        + u8(typical_day)
        + u8(typical_hour)
        + u8(typical_minute)
        + u8(typical_second)
        + section1_extra
    )
    s1_length = 3 + len(section1_body)
    s1 = u24(s1_length if section1_length is None else section1_length) + section1_body

    s2 = b""
    if section2 is not None:
        s2_length = SECTION2_HEADER_LENGTH + len(section2)
        s2 = u24(s2_length if section2_length is None else section2_length) + b"\0" + section2
    elif section2_length is not None:
        raise ValueError("section2_length needs section2 content")

    if descriptor_bytes is None:
        descriptor_bytes = b"".join(descriptor_octets(code) for code in descriptors)
    built_flags = (OBSERVED_FLAG if observed else 0) | (COMPRESSED_FLAG if compressed else 0)
    s3_length = SECTION3_HEADER_LENGTH + len(descriptor_bytes)
    s3 = (
        u24(s3_length if section3_length is None else section3_length)
        + b"\0"
        + u16(number_of_subsets)
        + u8(built_flags if section3_flags is None else section3_flags)
        + descriptor_bytes
    )

    if section4 is None:
        s4_length = SECTION4_HEADER_LENGTH + len(data)
        section4 = u24(s4_length if section4_length is None else section4_length) + b"\0" + data
    elif section4_length is not None or data:
        raise ValueError("section4 replaces section4_length and data")

    start1 = SECTION1_OFFSET
    start2 = start1 + len(s1)
    start3 = start2 + len(s2)
    start4 = start3 + len(s3)
    start5 = start4 + len(section4)
    end = start5 + len(terminator)
    length = end + len(trailing)
    body = s1 + s2 + s3 + section4 + terminator + trailing
    message = section0(length if total_length is None else total_length, edition) + body
    assert len(message) == length
    layout = Layout(
        section1=start1,
        section2=start2 if section2 is not None else None,
        section3=start3,
        section4=start4,
        section5=start5,
        end=end,
    )
    return BuiltMessage(message, layout)


def with_total_length(data: bytes, total_length: int) -> bytes:
    """`data` with its section-0 length field rewritten."""
    return data[:4] + u24(total_length) + data[7:]


def concatenate(parts: Sequence[bytes | BuiltMessage]) -> bytes:
    return b"".join(bytes(part) for part in parts)
