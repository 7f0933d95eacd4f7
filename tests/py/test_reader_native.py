"""next_messages, Message and MessageError: the native steps the streaming
reader is built on."""

import pickle

import pytest

import _quorvel
from _quorvel import BUFR_MESSAGE_FIELDS, Message, MessageError, next_messages, parse_bytes
from builder import build_message, concatenate, u24

TOO_SHORT = "message is too short to be BUFR"


def message(centre, **fields):
    """A valid message told apart from others by its originating centre."""
    return bytes(build_message(originating_centre=centre, descriptors=[1001], **fields))


FIRST, SECOND, THIRD = message(1), message(2, data=b"\x01" * 7), message(3)
BROKEN = bytes(build_message(terminator=b"7776"))
BASE = 1000


def step(data, start=0, final=True, first_index=0):
    messages, next_start, problem = next_messages(data, start, final, first_index, BASE,
                                                  "f.bufr", None)
    return [m.originating_centre for m in messages], next_start, problem


def junk(n):
    return bytes(range(n))


@pytest.mark.parametrize("data, start, final, expected", [
    # Junk between and around messages is skipped.
    (junk(5) + FIRST + junk(3) + SECOND + junk(9), 0, True,
     ([1, 2], 5 + len(FIRST) + 3 + len(SECOND) + 9, None)),
    (FIRST + SECOND, len(FIRST), True, ([2], len(FIRST + SECOND), None)),
    (FIRST, len(FIRST), False, ([], len(FIRST), None)),
    # A chunk that is not the last keeps its last three octets for the next.
    (FIRST + junk(10), 0, False, ([1], len(FIRST) + 7, None)),
    (FIRST + b"BU", 0, False, ([1], len(FIRST), None)),
    # A marker the chunk holds too little of asks for more.
    (FIRST + b"BUFR\0", 0, False, ([1], len(FIRST), ("more", len(FIRST), 8))),
    (FIRST + SECOND[:20], 0, False, ([1], len(FIRST), ("more", len(FIRST), len(SECOND)))),
    # In the last chunk the same is a truncation, worded as the scanner does.
    (FIRST + b"BUFR\0", 0, True, ([1], len(FIRST) + 5, ("truncated", len(FIRST), TOO_SHORT))),
    (FIRST + SECOND[:20], 0, True,
     ([1], len(FIRST) + 20,
      ("truncated", len(FIRST), f"section 0 at offset {BASE + len(FIRST)} is truncated"))),
    # A message that fails to parse stops the step after the good ones.
    (FIRST + BROKEN + SECOND, 0, True,
     ([1], len(FIRST + BROKEN),
      ("message", len(FIRST), len(BROKEN), "section 5 terminator is not 7777"))),
    # A declared length of 0 skips only the marker, so the search moves on.
    (b"BUFR" + u24(0) + b"\4" + FIRST, 0, True,
     ([], 4, ("message", 0, 4, TOO_SHORT))),
], ids=["junk", "from-start", "at-end", "keeps-tail", "partial-marker", "more-section0",
        "more-message", "short-last", "truncated-last", "broken", "zero-length"])
def test_step(data, start, final, expected):
    assert step(data, start, final) == expected


def read_in_chunks(data, size):
    """The streaming reader's loop, over chunks of `size` octets."""
    found, index, base, buffer, at = [], 0, 0, b"", 0
    while True:
        final = at >= len(data)
        messages, next_start, problem = next_messages(buffer, 0, final, index, base, None, None)
        found += [(m.index, m.offset, bytes(m.data)) for m in messages]
        index += len(messages)
        if problem is not None and problem[0] != "more":
            index += problem[0] == "message"
            found.append(problem[0])
        if final and (problem is None or problem[0] == "truncated") and next_start == len(buffer):
            return found
        buffer, base = buffer[next_start:], base + next_start
        buffer += data[at:at + size]
        at += size


@pytest.mark.parametrize("size", [1, 7, 64, 10_000])
def test_chunks_find_what_one_buffer_does(size):
    data = junk(3) + FIRST + b"BUF" + SECOND + BROKEN + junk(2) + THIRD + SECOND[:30]
    whole = read_in_chunks(data, len(data))
    assert [item if isinstance(item, str) else item[:2] for item in whole] == [
        (0, 3), (1, 3 + len(FIRST) + 3), "message",
        (3, len(data) - 30 - len(THIRD)), "truncated"]
    assert read_in_chunks(data, size) == whole


def test_a_step_makes_at_most_a_few_thousand_messages():
    data = FIRST * 5000
    messages, next_start, problem = next_messages(data, 0, True, 7, 0, None, None)
    assert (len(messages), next_start, problem) == (4096, 4096 * len(FIRST), None)
    rest, end, _ = next_messages(data, next_start, True, 7 + 4096, 0, None, None)
    assert (len(rest), rest[-1].index, end) == (904, 4999 + 7, len(data))


def test_message_shows_its_place_header_and_octets():
    data = bytearray(junk(4) + FIRST + SECOND)
    (first, second), _, _ = next_messages(data, 0, True, 10, BASE, "f.bufr", "/defs")
    assert (second.index, second.offset, second.length) == (11, BASE + 4 + len(FIRST), len(SECOND))
    assert (second.source, second.definitions) == ("f.bufr", "/defs")
    assert repr(first) == f"Message(index=10, offset={BASE + 4}, length={len(FIRST)}, edition=4)"
    header = parse_bytes(SECOND)
    for name in BUFR_MESSAGE_FIELDS:
        assert getattr(second, name) == getattr(second.header, name) == getattr(header, name)
    view = second.data
    assert bytes(view) == SECOND and view.readonly
    # The buffer stays held while any message (or view) made from it lives.
    del first, second
    with pytest.raises(BufferError):
        data.append(0)
    del view
    data.append(0)


@pytest.mark.parametrize("source, definitions", [(None, None), ("f.bufr", "/defs")])
def test_message_pickles(source, definitions):
    (original,), _, _ = next_messages(junk(9) + SECOND, 0, True, 3, 40, source, definitions)
    copy = pickle.loads(pickle.dumps(original))
    assert type(copy) is Message
    assert ([getattr(copy, name) for name in ("index", "offset", "source", "definitions")]
            == [3, 49, source, definitions])
    assert bytes(copy.data) == SECOND and copy.header.total_length == len(SECOND)


def test_message_is_made_only_by_the_module():
    with pytest.raises(TypeError):
        Message()
    with pytest.raises(MessageError, match="^f: message 2 at offset 5: section 5 terminator"):
        _quorvel._restore_message(BROKEN, 2, 5, "f", None)


@pytest.mark.parametrize("arguments, error", [
    ((b"abc", 4, True, 0, 0, None, None), ValueError),
    (("BUFR", 0, True, 0, 0, None, None), TypeError),
    ((b"", 0, 1, 0, 0, None, None), TypeError),
    ((b"", -1, True, 0, 0, None, None), OverflowError),
    ((b"", 0, True, -1, 0, None, None), OverflowError),
    ((b"", 0, True, 0, 2**62 + 1, None, None), OverflowError),
    ((b"", 0, True, 0, 0, b"f", None), TypeError),
    ((memoryview(b"abcd")[::2], 0, True, 0, 0, None, None), BufferError),
])
def test_next_messages_refuses_bad_arguments(arguments, error):
    with pytest.raises(error):
        next_messages(*arguments)


@pytest.mark.parametrize("arguments, text", [
    (("f.bufr", 3, 120, "section 5 terminator is not 7777"),
     "f.bufr: message 3 at offset 120: section 5 terminator is not 7777"),
    ((None, 0, 0, "bad", 1002, 4, 0),
     "<bytes>: message 0 at offset 0: bad (reading descriptor 001002 at position 4 of subset 1)"),
])
def test_message_error_text_and_pickling(arguments, text):
    error = MessageError(*arguments)
    assert isinstance(error, ValueError) and str(error) == text
    copy = pickle.loads(pickle.dumps(error))
    assert str(copy) == text
    assert (copy.source, copy.index, copy.offset, copy.reason) == arguments[:4]
    assert copy.subset == (arguments[6] if len(arguments) > 4 else None)


@pytest.mark.parametrize("arguments, keywords", [
    ((None, "0", 0, "bad"), {}),
    ((None, 0, 0, "bad"), {"subset": "1"}),
    ((None, 0, 0), {}),
    ((None, 0, 0, "bad"), {"line": 3}),
])
def test_message_error_refuses_bad_arguments(arguments, keywords):
    with pytest.raises(TypeError):
        MessageError(*arguments, **keywords)
