"""DecodedValue: its properties, `data`, and repr with its number form."""

from __future__ import annotations

import pytest

import _quorvel
from decode_support import Element, bits, decode, format_number, tables_with

# Elements whose scale and reference put values at the edges of the number form.
SCALED = (
    Element(47001, "SIX DECIMALS", 8, 6),
    Element(47002, "FOUR DECIMALS", 8, 4),
    Element(47003, "FIVE DECIMALS", 8, 5),
    Element(47004, "NEGATIVE MICRO", 8, 6, -25),
    Element(47005, "HUGE NEGATIVE", 8, 0, -(10**17)),
    Element(47006, "TIMES 1E100", 8, -100),
    Element(47007, "LARGE NEGATIVE SCALE", 8, -20),
    Element(47008, "NEGATIVE", 16, 2, -27315),
)
TABLES = tables_with(extra=SCALED)


def one(code, fields):
    [value] = decode([code], bits(*fields), tables=TABLES)
    return value


@pytest.mark.parametrize("code, fields, shown", [
    (12101, [(29815, 16)], "Some(25.0)"),
    (12101, [(0, 16)], "Some(-273.15)"),
    (1001, [(0, 7)], "Some(0.0)"),
    (49064, [(10**16, 64)], "Some(1e16)"),
    (49064, [(10**16 - 2, 64)], "Some(9999999999999998.0)"),
    (49064, [(2**64 - 1, 64)], "Some(1.8446744073709552e19)"),
    (49064, [(123456789012345, 64)], "Some(123456789012345.0)"),
    (47001, [(25, 8)], "Some(2.5e-5)"),
    (47002, [(1, 8)], "Some(0.0001)"),
    (47003, [(1, 8)], "Some(1e-5)"),
    (47003, [(123, 8)], "Some(0.00123)"),
    (47004, [(0, 8)], "Some(-2.5e-5)"),
    (47005, [(0, 8)], "Some(-1e17)"),
    (47006, [(1, 8)], "Some(1e100)"),
    (47007, [(7, 8)], "Some(7e20)"),
    (47008, [(1, 16)], "Some(-273.14)"),
    (12101, [(65535, 16)], "None"),
])
def test_number_form(code, fields, shown):
    value = one(code, fields)
    assert repr(value) == f"DecodedValue({code:06}, {shown})"
    assert shown == "None" or shown == f"Some({format_number(value.raw_value)})"


@pytest.mark.parametrize("raw, text_shown", [(1, "REGION I"), (7, "MISSING VALUE"), (5, None)])
def test_meaning_is_shown_bare(raw, text_shown):
    value = one(1003, [(raw, 3)])
    assert value.raw_meaning == text_shown
    assert value.data == (text_shown if text_shown is not None else float(raw))
    shown = text_shown if text_shown is not None else f"Some({float(raw)})"
    assert repr(value) == f"DecodedValue(001003, {shown})"


@pytest.mark.parametrize("octets, shown", [
    (b'say "hi"', 'say "hi"'),
    (b"a\\b\tc   ", "a\\b\tc"),
    (b"        ", ""),
    (b"\xff" * 8, "Some(1008.0)"),
])
def test_text_is_shown_bare(octets, shown):
    [value] = decode([1015], octets)
    assert value.raw is None and value.raw_meaning is None and value.raw_value == 1008.0
    assert repr(value) == f"DecodedValue(001015, {shown})"


def test_data_prefers_text_then_meaning_then_number():
    values = decode([1015, 1003, 1003, 12101, 12101, 222000],
                    bits(b"ABC     ", (1, 3), (5, 3), (29815, 16), (65535, 16)))
    assert [v.data for v in values] == ["ABC", "REGION I", 5.0, 25.0, None, 0.0]
    assert [type(v.data) for v in values] == [str, str, float, float, type(None), float]


def test_descriptor_is_padded_to_six_digits():
    values = decode([1001, 204001, 1002, 222000], bits((5, 7), (1, 1), (2, 10)))
    assert [repr(v) for v in values] == ["DecodedValue(001001, Some(5.0))",
                                         "DecodedValue(999999, Some(1.0))",
                                         "DecodedValue(001002, Some(2.0))",
                                         "DecodedValue(222000, Some(0.0))"]


def test_python_cannot_make_or_change_one():
    [value] = decode([1001], bits((5, 7)))
    with pytest.raises(TypeError):
        _quorvel.DecodedValue()
    with pytest.raises(TypeError):
        type(value)()
    for attribute in ("descriptor", "name", "raw", "raw_value", "raw_text", "raw_meaning",
                      "data"):
        with pytest.raises(AttributeError):
            setattr(value, attribute, None)
    assert type(value) is _quorvel.DecodedValue
