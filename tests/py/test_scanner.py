"""parse_all_bytes: finding every message in a buffer, then parsing each; scan_messages:
the same search, reporting where the messages lie and where it stopped."""

import subprocess
import sys

import pytest

from _quorvel import BufrMessage, parse_all_bytes, parse_bytes, scan_messages
from builder import build_message, concatenate, section0, u24

TOO_SHORT = "message is too short to be BUFR"


def truncated(section, offset):
    return f"section {section} at offset {offset} is truncated"


def message(centre, **fields):
    """A valid message told apart from others by its originating centre."""
    return build_message(originating_centre=centre, descriptors=[1001, centre], **fields)


FIRST = message(1, data=b"\x01\x02")
SECOND = message(2, section2=b"local", data=b"\x03" * 5)


def centres(data):
    return [m.originating_centre for m in parse_all_bytes(data)]


def assert_refused(data, text):
    with pytest.raises(ValueError) as info:
        parse_all_bytes(data)
    assert str(info.value) == text


@pytest.mark.parametrize(
    "data",
    [b"", b"B", b"BUF", b"BUFX" * 10, b"no marker in here at all", b"7777", b"bufr" + bytes(40),
     b"xxBUF", b"\0BUF\0R"],
)
def test_no_marker_gives_empty_list(data):
    assert parse_all_bytes(data) == []


@pytest.mark.parametrize(
    "parts",
    [
        [FIRST, SECOND],
        [bytes(10), FIRST, bytes(10), SECOND, bytes(10)],
        [b"ISMD01 ZZZZ 011200\r\r\n", FIRST, b"\x03\r\r\n\x01", SECOND, b"BUF"],
        [b"BUF", FIRST, b"7777", SECOND, b"\x037777"],
    ],
    ids=["adjacent", "ten junk octets around", "bulletin envelopes", "near-markers"],
)
def test_messages_in_order_with_junk_around(parts):
    messages = parse_all_bytes(concatenate(parts))
    assert all(type(m) is BufrMessage for m in messages)
    assert [m.originating_centre for m in messages] == [1, 2]
    assert [m.total_length for m in messages] == [len(FIRST), len(SECOND)]
    # Offsets are relative to each message, not to the buffer.
    assert [m.section4_data_offset for m in messages] == [
        FIRST.layout.section4_data, SECOND.layout.section4_data
    ]


def test_marker_inside_a_message_is_not_taken_as_a_message():
    inner = section0(len(FIRST)) + FIRST.data[8:]
    outer = message(7, data=b"BUFR" + inner)
    assert b"BUFR" in outer.data[4:]
    assert centres(outer.data) == [7]
    assert centres(outer.data + FIRST.data) == [7, 1]


def test_hundred_octet_message_and_one_extra_octet():
    built = build_message(data=bytes(55))
    assert len(built) == 100
    data = built.data + b"\0"
    with pytest.raises(ValueError) as info:
        parse_bytes(data)
    assert str(info.value) == "declared length 100 does not match buffer length 101"
    messages = parse_all_bytes(data)
    assert [m.total_length for m in messages] == [100]


@pytest.mark.parametrize("extra", range(4))
@pytest.mark.parametrize(
    "before",
    [b"", FIRST.data, FIRST.data + b"junk"],
    ids=["alone", "after a message", "after junk"],
)
def test_marker_without_section0_is_too_short(before, extra):
    # The octets that follow would declare a 100-octet message, edition 4.
    assert_refused(before + b"BUFR" + b"\x00\x00\x64\x04"[:extra], TOO_SHORT)


@pytest.mark.parametrize(
    "declared", [len(SECOND) + 1, len(SECOND) + 2, len(SECOND) + 1000, 0xFFFFFF]
)
def test_declared_length_past_the_end(declared):
    prefix = FIRST.data + b"junk!"
    data = prefix + section0(declared) + SECOND.data[8:]
    assert_refused(data, truncated(0, len(prefix)))


def test_declared_length_past_the_end_with_only_section0_left():
    prefix = bytes(3)
    assert_refused(prefix + section0(9), truncated(0, 3))


def test_declared_length_exactly_to_the_end():
    assert centres(bytes(5) + FIRST.data) == [1]


@pytest.mark.parametrize("declared", range(1, 8))
def test_declared_length_below_eight_is_too_short(declared):
    data = section0(declared) + bytes(30)
    assert_refused(data, TOO_SHORT)


@pytest.mark.parametrize("declared", [8, 9, 10])
@pytest.mark.parametrize("edition, text", [
    (4, truncated(1, 8)),
    (3, "unsupported BUFR edition 3; only edition 4 is implemented"),
])
def test_declared_length_eight_to_ten(declared, edition, text):
    data = section0(declared, edition) + bytes(30)
    assert_refused(data, text)


def test_declared_length_zero_ends():
    # Run apart so that a scanner that never advances fails the test instead of hanging it.
    script = (
        "import _quorvel\n"
        "data = b'BUFR' + bytes(3) + b'\\x04' + bytes(40)\n"
        "try:\n"
        "    _quorvel.parse_all_bytes(data)\n"
        "except ValueError as exc:\n"
        "    print('ValueError', exc)\n"
    )
    result = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, timeout=60
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("ValueError ")


def test_later_bad_message_fails_the_whole_call():
    bad = message(3, terminator=b"7776")
    assert_refused(FIRST.data + bad.data, "section 5 terminator is not 7777")
    assert_refused(bad.data + FIRST.data, "section 5 terminator is not 7777")


def test_error_offsets_count_from_the_failing_message():
    probe = message(3, data=b"\x01")
    bad = message(3, data=b"\x01", section4_length=len(probe) - probe.layout.section4 + 1)
    junk = b"\x01\x02\x03"
    assert_refused(FIRST.data + junk + bad.data, truncated(4, bad.layout.section4))


def test_first_failing_message_wins():
    bad_terminator = message(3, terminator=b"XXXX")
    bad_edition = message(4, edition=3)
    assert_refused(FIRST.data + bad_edition.data + bad_terminator.data,
                   "unsupported BUFR edition 3; only edition 4 is implemented")
    assert_refused(FIRST.data + bad_terminator.data + bad_edition.data,
                   "section 5 terminator is not 7777")


def test_scan_covers_the_whole_buffer_before_parsing():
    # The first message is broken too, but the scan fault behind it is reported.
    bad = message(3, terminator=b"XXXX")
    assert_refused(bad.data + b"BUFR\0\0", TOO_SHORT)
    assert_refused(bad.data + section0(10_000), truncated(0, len(bad)))


def test_a_new_list_each_call():
    data = FIRST.data + SECOND.data
    first, second = parse_all_bytes(data), parse_all_bytes(data)
    assert first is not second
    assert first[0] is not second[0]


# Offsets of the markers after FIRST and after two junk octets and FIRST.
AFTER = len(FIRST)
AFTER_JUNK = 2 + len(FIRST)


@pytest.mark.parametrize(
    "parts, locations, stop",
    [
        ([FIRST, SECOND], [(0, AFTER), (AFTER, len(SECOND))], None),
        ([b"ab", FIRST, b"BUF", SECOND, b"\x03"], [(2, AFTER), (AFTER_JUNK + 3, len(SECOND))], None),
        ([b"ab", FIRST, SECOND.data[:-1]], [(2, AFTER)], (AFTER_JUNK, truncated(0, AFTER_JUNK))),
        ([FIRST, section0(0), bytes(12)], [(0, AFTER)], (AFTER, TOO_SHORT)),
        ([b"ab", FIRST, b"BUFR\0"], [(2, AFTER)], (AFTER_JUNK, TOO_SHORT)),
        ([b"no marker in here"], [], None),
        ([b""], [], None),
    ],
    ids=["good", "junk between", "truncated last", "declared zero", "marker near the end",
         "no marker", "empty"],
)
def test_scan_messages_agrees_with_parse_all_bytes(parts, locations, stop):
    data = concatenate(parts)
    assert scan_messages(data) == (locations, stop)
    if stop is None:
        assert [m.total_length for m in parse_all_bytes(data)] == [n for _, n in locations]
    else:
        assert_refused(data, stop[1])


def test_scan_messages_reports_messages_that_fail_to_parse():
    # Only the scan's own rule stops it; a bad message is still a location.
    bad = message(3, terminator=b"7776")
    assert scan_messages(bad.data + FIRST.data) == ([(0, len(bad)), (len(bad), AFTER)], None)
