"""Uncompressed section-4 decoding: element reading, text, replication,
sequences, operators, bitmaps, the failure texts and bounds, and a
comparison with a small reference decoder on random messages."""

from __future__ import annotations

import dataclasses

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from _quorvel import TableSet, decode_values_with_tables
from decode_support import (BLOCK, ERROR_PREFIX, FACTOR, NAME, NOTHING, PRESENT, PRESSURE,
                            REF_TABLE, REGION, SERIES, SHORT_FACTOR, STATION, TEMPERATURE,
                            Element, Reader, RefFailure, Value, associated, bits, chain, decode,
                            decode_error, decode_text, decoded, descriptor_lists, marker,
                            message, not_enough_bits, numeric, observe, ref_tables, tables_with,
                            text, text_element, width_element)

UNSUPPORTED = "unsupported replication descriptor {:06}"
MISSING_FACTOR = ("delayed replication descriptor {:06} is missing its replication factor "
                  "or replicated descriptors")
TOO_DEEP = ERROR_PREFIX + "descriptor decode exceeded recursion depth"
OUTSIDE = ERROR_PREFIX + "bitmap reference is outside descriptor history"
S0, S1, S2 = SERIES[:3]


# ---- Numeric elements --------------------------------------------------------------

def test_the_worked_temperature_example():
    assert decoded([12101], bits((29815, 16))) == [
        Value(12101, "TEMPERATURE/AIR TEMPERATURE", 29815, 25.0)]
    assert decoded([12101], bits((65535, 16))) == [
        Value(12101, "TEMPERATURE/AIR TEMPERATURE", 65535, None)]


@pytest.mark.parametrize("element, raw", [
    (TEMPERATURE, 0), (TEMPERATURE, 29815), (TEMPERATURE, 65534), (TEMPERATURE, 65535),
    (PRESSURE, 10132), (PRESSURE, 16383), (BLOCK, 0), (BLOCK, 126), (BLOCK, 127),
    (width_element(1), 0), (width_element(1), 1),
    (width_element(63), 2**63 - 2), (width_element(63), 2**63 - 1),
    # At width 64 all ones is an ordinary value.
    (width_element(64), 2**64 - 1), (width_element(64), 2**63 + 12345),
    # Class 31 is never missing.
    (FACTOR, 255), (PRESENT, 1), (SHORT_FACTOR, 1),
    # Code tables: a meaning, no meaning, and a meaning for the missing value.
    (REGION, 1), (REGION, 5), (REGION, 7),
])
def test_numeric_element(element, raw):
    assert decoded([element.code], bits((raw, element.width))) == [numeric(element, raw)]


def test_missing_values_keep_raw_and_meaning():
    assert decoded([1003, 12101], bits((7, 3), (65535, 16))) == [
        Value(1003, REGION.name, 7, None, None, "MISSING VALUE"),
        Value(12101, TEMPERATURE.name, 65535, None)]


def test_zero_width_element_reads_nothing_and_is_missing():
    assert decoded([48000, 48000, 1001], bits((5, 7))) == [
        Value(48000, "ZERO WIDTH", 0, None), Value(48000, "ZERO WIDTH", 0, None),
        numeric(BLOCK, 5)]
    assert decoded([48000]) == [Value(48000, "ZERO WIDTH", 0, None)]
    # A zero-width class-31 element is its reference.
    assert decoded([31090]) == [Value(31090, "CONSTANT FACTOR", 0, 1048576.0)]


def test_meaning_belongs_to_the_code_not_the_unit():
    assert decoded([S0.code, S0.code, S1.code], bits((3, 4), (4, 4), (3, 4))) == [
        Value(S0.code, S0.name, 3, 3.0, None, "THREE"), Value(S0.code, S0.name, 4, 4.0),
        Value(S1.code, S1.name, 3, 3.0)]


# ---- Text elements -----------------------------------------------------------------

@pytest.mark.parametrize("octets, expected", [
    (b"ABC     ", "ABC"),
    (b"\xff" * 8, None),
    (b"AB\xc4DEFGH", "AB?DEFGH"),
    (b" " * 8, ""),
    (b"  AB\0\0  ", "  AB\0\0"),
    (b"A\t\n\x0b\x0c\r  ", "A"),
    (b"\xff" * 7 + b"A", "???????A"),
    (b"A\xa0      ", "A?"),
    (b"\x85\x80\xfe\x7f    ", "???\x7f"),
    (b"\0" * 8, "\0" * 8),
    (b'a"b\\c   ', 'a"b\\c'),
])
def test_text_field(octets, expected):
    assert decoded([1015], octets) == [text(NAME, expected, 1008.0)]


@pytest.mark.parametrize("width, fields, expected", [
    (0, (), None),
    (4, ((4, 4),), "@"),
    # Four one bits stand left-aligned in 0xF0, which is not all ones.
    (4, ((15, 4),), "?"),
    (12, ((0x41, 8), (4, 4)), "A@"),
    (16, ((0xFF, 8), (0xFF, 8)), None),
    (24, ((0x41, 8), (0x20, 8), (0x20, 8)), "A"),
])
def test_text_widths(width, fields, expected):
    element = text_element(width)
    assert decoded([element.code], bits(*fields)) == [
        text(element, expected, 1000.0 + width // 8)]


def test_text_ordinals_count_across_subsets():
    t16 = text_element(16)
    values = decoded([1015, t16.code], b"FIRST   ab" + b"SECOND  cd", subsets=2)
    assert values == [text(NAME, "FIRST", 1008.0), text(t16, "ab", 2002.0),
                      text(NAME, "SECOND", 3008.0), text(t16, "cd", 4002.0)]


def test_2_08_overrides_text_width():
    values = decoded([208003, 1015, 208000, 1015, 208001, 1001],
                     bits(b"XYZ", b"ABCDEFGH", (5, 7)))
    assert values == [text(NAME, "XYZ", 1003.0), text(NAME, "ABCDEFGH", 2008.0),
                      numeric(BLOCK, 5)]


def test_numeric_operators_do_not_touch_text_width():
    values = decoded([201130, 202130, 206016, 1015, 1001, 207003, 1015],
                     bits(b"ABCDEFGH", (100, 9), b"IJKLMNOP"))
    assert values == [text(NAME, "ABCDEFGH", 1008.0),
                      numeric(dataclasses.replace(BLOCK, scale=2), 100, width=9),
                      text(NAME, "IJKLMNOP", 2008.0)]


@pytest.mark.parametrize("unit, is_text", [("CCITT IA5", True), ("ccitt ia5", False),
                                           ("CCITT IA5 ", False), ("CCITT", False)])
def test_only_the_exact_unit_makes_text(unit, is_text):
    element = Element(48201, "UNIT TEST", 8, unit=unit)
    values = decoded([48201], b"A", tables=tables_with(extra=(element,)))
    expected = text(element, "A", 1001.0) if is_text else numeric(element, 0x41)
    assert values == [expected]


# ---- Replication -------------------------------------------------------------------

def test_regular_replication():
    values = decoded([102003, 1001, 1002, 1001],
                     bits((1, 7), (11, 10), (2, 7), (12, 10), (3, 7), (13, 10), (4, 7)))
    assert values == [numeric(BLOCK, 1), numeric(STATION, 11), numeric(BLOCK, 2),
                      numeric(STATION, 12), numeric(BLOCK, 3), numeric(STATION, 13),
                      numeric(BLOCK, 4)]


def test_delayed_replication_appends_its_factor():
    values = decoded([101000, 31001, 1001, 1002], bits((3, 8), (1, 7), (2, 7), (3, 7), (9, 10)))
    assert values == [numeric(FACTOR, 3), numeric(BLOCK, 1), numeric(BLOCK, 2),
                      numeric(BLOCK, 3), numeric(STATION, 9)]


def test_factor_0_reads_nothing_of_the_group():
    values = decoded([102000, 31001, 1001, 12101, 1002], bits((0, 8), (9, 10)))
    assert values == [numeric(FACTOR, 0), numeric(STATION, 9)]


def test_class_31_factor_of_all_ones_repeats_255_times():
    values = decoded([101000, 31001, 31031], bits((255, 8), *[(1, 1)] * 255))
    assert values == [numeric(FACTOR, 255)] + [numeric(PRESENT, 1)] * 255


@pytest.mark.parametrize("raw, count", [(27515, 2), (27514, 1), (27315, 0), (0, 0),
                                        (65535, 0)])
def test_any_element_is_a_factor_by_its_scaled_value(raw, count):
    values = decoded([101000, 12101, 1001], bits((raw, 16), *[(count + 1, 7)] * count))
    assert values == [numeric(TEMPERATURE, raw)] + [numeric(BLOCK, count + 1)] * count


def test_nested_delayed_replication():
    values = decoded([103000, 31001, 101000, 31000, 1001],
                     bits((2, 8), (1, 1), (4, 7), (0, 1)))
    assert values == [numeric(FACTOR, 2), numeric(SHORT_FACTOR, 1), numeric(BLOCK, 4),
                      numeric(SHORT_FACTOR, 0)]


@pytest.mark.parametrize("codes, error", [
    ([101000], UNSUPPORTED.format(101000)),
    ([1001, 101001], UNSUPPORTED.format(101001)),
    ([101000, 31001], MISSING_FACTOR.format(101000)),
    ([100000, 31001, 1001], UNSUPPORTED.format(100000)),
    ([100002, 1001], UNSUPPORTED.format(100002)),
    ([102002, 1001], UNSUPPORTED.format(102002)),
    ([102000, 31001, 1001], MISSING_FACTOR.format(102000)),
    ([101000, 31099, 1001], "descriptor 031099 was not found in Table B"),
])
def test_replication_errors(codes, error):
    assert decode_error(codes, bytes(8)) == error


# ---- Sequences and depth ---------------------------------------------------------

SEQUENCES = (
    (340001, (1001, 340002)),
    (340002, (1002,)),
    (340003, (201130,)),
    (340004, (201386, 1001)),
    (340005, (101257, 1001)),
    (340006, ()),
    (340007, (101256, 31001, 1001)),
    (340008, (222256, 236001, 1001)),
    (340009, (204260, 1001)),
)


@pytest.mark.parametrize("codes, fields, expected", [
    ([340001, 12101], ((1, 7), (2, 10), (29815, 16)),
     [numeric(BLOCK, 1), numeric(STATION, 2), numeric(TEMPERATURE, 29815)]),
    # Operators set inside a sequence stay in force after it.
    ([340003, 1001], ((300, 9),), [numeric(BLOCK, 300, width=9)]),
    # Operands and counts from Table D are taken as octets.
    ([340004], ((300, 9),), [numeric(BLOCK, 300, width=9)]),
    ([340005], ((3, 7),), [numeric(BLOCK, 3)]),
    ([340006, 1001], ((3, 7),), [numeric(BLOCK, 3)]),
    ([340007], ((1, 8), (3, 7)), [numeric(FACTOR, 1), numeric(BLOCK, 3)]),
    ([340008], ((3, 7),), [marker(222256), numeric(BLOCK, 3)]),
    ([340009], ((5, 4), (3, 7)), [associated(5), numeric(BLOCK, 3)]),
])
def test_sequences(codes, fields, expected):
    assert decoded(codes, bits(*fields), tables=tables_with(SEQUENCES)) == expected


@pytest.mark.parametrize("member", [400000, 999999, 1000000, 4294967295])
def test_invalid_descriptor_in_a_sequence(member):
    tables = tables_with(((340010, (1001, member)),))
    assert decode_error([340010], bits((1, 7)), tables=tables) == (
        ERROR_PREFIX + f"invalid descriptor {member:06}")


def test_missing_sequence():
    assert decode_error([340255]) == "descriptor 340255 was not found in Table D"


@pytest.mark.parametrize("length, tail, fields, outcome", [
    (64, (1001,), ((3, 7),), [numeric(BLOCK, 3)]),
    (65, (1001,), ((3, 7),), TOO_DEEP),
    (65, (), (), TOO_DEEP),
    # A replicated group is one level deeper than its replication.
    (63, (101001, 1001), ((3, 7),), [numeric(BLOCK, 3)]),
    (64, (101001, 1001), ((3, 7),), TOO_DEEP),
    # A factor is read at the level of its replication; a count of 0 never
    # enters the group.
    (64, (101000, 31000, 1001), ((0, 1),), [numeric(SHORT_FACTOR, 0)]),
    (64, (101000, 31000, 1001), ((1, 1), (3, 7)), TOO_DEEP),
])
def test_nesting_depth(length, tail, fields, outcome):
    tables = tables_with(chain(341001, length, tail))
    if isinstance(outcome, str):
        assert decode_error([341001], bits(*fields), tables=tables) == outcome
    else:
        assert decoded([341001], bits(*fields), tables=tables) == outcome


# ---- Operators ---------------------------------------------------------------------

@pytest.mark.parametrize("operators, element, width, scale, reference", [
    ([201129], BLOCK, 8, 0, 0),
    ([201127], BLOCK, 6, 0, 0),
    ([201130, 201000], BLOCK, 7, 0, 0),
    ([201001], BLOCK, 0, 0, 0),
    ([201130], PRESENT, 3, 0, 0),
    ([201130], REGION, 5, 0, 0),
    ([202129], TEMPERATURE, 16, 3, -27315),
    ([202126], TEMPERATURE, 16, 0, -27315),
    ([202129, 202000], TEMPERATURE, 16, 2, -27315),
    # 2-06 wins over a width change.
    ([201130, 206005], BLOCK, 5, 0, 0),
    ([206000], BLOCK, 0, 0, 0),
    ([206012], PRESENT, 12, 0, 0),
    ([206064], BLOCK, 64, 0, 0),
    # 2-07 replaces 2-01 and 2-02; a later 2-01 replaces its width change.
    ([207001], TEMPERATURE, 20, 3, -273150),
    ([201130, 207001], BLOCK, 11, 1, 0),
    ([207001, 201130], BLOCK, 9, 1, 0),
    ([202130, 207001, 202000], TEMPERATURE, 20, 2, -273150),
    ([207002, 207000], TEMPERATURE, 16, 2, -27315),
    ([207018], width_element(4), 64, 18, 0),
])
def test_width_and_scale_operators(operators, element, width, scale, reference):
    changed = dataclasses.replace(element, width=width, scale=scale, reference=reference)
    for raw in sorted({0, (1 << width) - 1, (1 << width) // 3}):
        assert decoded(operators + [element.code], bits((raw, width))) == [
            numeric(changed, raw)]


def test_2_07_002_on_temperature():
    # Width 23, scale 4, reference -2731500.
    assert decoded([207002, 12101], bits((2981500, 23))) == [
        Value(12101, TEMPERATURE.name, 2981500, 25.0)]


@pytest.mark.parametrize("width", [65, 134])
def test_width_change_beyond_64_bits(width):
    operator = 201000 + 128 + width - 7
    assert decode_error([operator, 1001], bytes(32)) == (
        ERROR_PREFIX + f"cannot read {width} bits into u64")


def test_2_06_holds_over_a_factor_until_an_element():
    values = decoded([206004, 101000, 31001, 1001, 1002],
                     bits((2, 4), (9, 4), (6, 7), (7, 10)))
    assert values == [numeric(FACTOR, 2, width=4), numeric(BLOCK, 9, width=4),
                      numeric(BLOCK, 6), numeric(STATION, 7)]


def test_2_06_holds_over_a_back_reference():
    codes = [S0.code, 236000, 31031, 206005, 223255, 1001, 1001]
    data = bits((1, 4), *present_bits(0), (9, 5), (3, 5), (4, 7))
    assert decoded(codes, data) == [
        numeric(S0, 1), marker(236000), numeric(PRESENT, 0), numeric(S0, 9, width=5),
        numeric(BLOCK, 3, width=5), numeric(BLOCK, 4)]


def test_2_06_is_cleared_by_a_text_element():
    assert decoded([206016, 1015, 1001], b"ABCDEFGH" + bits((3, 7))) == [
        text(NAME, "ABCDEFGH", 1008.0), numeric(BLOCK, 3)]


def test_associated_fields():
    codes = [204004, 12101, 31031, 101000, 1001, 1002, 1015, 204000, 1001]
    data = bits((15, 4), (29815, 16), (1, 1), (1, 7), (0, 4), (7, 10), (3, 4), b"NAME    ",
                (9, 7))
    assert decoded(codes, data) == [
        associated(15), numeric(TEMPERATURE, 29815), numeric(PRESENT, 1),
        # No associated field before a factor, whatever its class.
        numeric(BLOCK, 1), associated(0), numeric(STATION, 7),
        associated(3), text(NAME, "NAME", 1008.0), numeric(BLOCK, 9)]


def test_associated_field_width_ignores_width_change():
    assert decoded([201130, 204003, 1001], bits((7, 3), (5, 9))) == [
        associated(7), numeric(BLOCK, 5, width=9)]


def test_associated_field_beyond_64_bits():
    assert decode_error([204065, 1001], bytes(16)) == (
        ERROR_PREFIX + "cannot read 65 bits into u64")


MARKERS = [222000, 223000, 223001, 224000, 225000, 226000, 227000, 229000, 230000, 231000,
           232000, 232254, 233000, 234000, 235000, 236000, 237000, 237001, 238000, 239000,
           240000, 241000, 241255, 242000, 262000]
NO_EFFECT = [200000, 203000, 203255, 209000, 210001, 211005, 220000, 221000, 222001, 228000,
             236001, 243000, 250000, 261000, 262001, 263000, 263255]


@pytest.mark.parametrize("operator", MARKERS)
def test_marker_operators(operator):
    assert decoded([operator, 1001], bits((5, 7))) == [marker(operator), numeric(BLOCK, 5)]


@pytest.mark.parametrize("operator", NO_EFFECT)
def test_operators_without_effect(operator):
    assert decoded([operator, 1001], bits((5, 7))) == [numeric(BLOCK, 5)]


@pytest.mark.parametrize("operator", [203001, 203010, 203254, 205001, 205255, 209001, 209255,
                                      221001, 221255])
def test_unsupported_operators_fail_naming_the_code(operator):
    with pytest.raises(ValueError, match=str(operator)):
        decode([operator, 1001], bits((5, 7)))


@pytest.mark.parametrize("operator", [207019, 207255])
def test_2_07_beyond_18_fails(operator):
    with pytest.raises(ValueError):
        decode([operator, 1001], bytes(16))


# ---- Bitmaps and back-references -------------------------------------------------

def present_bits(*flags):
    return [(flag, 1) for flag in flags]


@pytest.mark.parametrize("operator", [223255, 224255, 232255])
def test_bitmap_marks_history_entries(operator):
    codes = [e.code for e in SERIES] + [236000, 101005, 31031, operator // 1000 * 1000]
    codes += [operator] * 4 + [1001]
    data = bits(*[(i, 4) for i in range(10)], *present_bits(0, 1, 1, 0, 0), (11, 4), (12, 4),
                (13, 4), (100, 7))
    assert decoded(codes, data) == (
        [numeric(e, i) for i, e in enumerate(SERIES)] + [marker(236000)]
        + [numeric(PRESENT, b) for b in (0, 1, 1, 0, 0)] + [marker(operator // 1000 * 1000)]
        + [numeric(SERIES[5], 11), numeric(SERIES[8], 12), numeric(SERIES[9], 13),
           numeric(BLOCK, 100)])


def test_2_35_cancels_the_bitmap_and_its_history_start():
    codes = [S0.code, S1.code, S2.code, 236000, 31031, 31031, 31031, 223255, 235000, 31031,
             223255, 223255, 1001]
    data = bits((1, 4), (2, 4), (3, 4), *present_bits(1, 1, 0), (9, 4), *present_bits(0),
                (7, 4), (5, 7))
    assert decoded(codes, data) == [
        numeric(S0, 1), numeric(S1, 2), numeric(S2, 3), marker(236000),
        *[numeric(PRESENT, b) for b in (1, 1, 0)], numeric(S2, 9), marker(235000),
        numeric(PRESENT, 0), numeric(S0, 7), numeric(BLOCK, 5)]


def test_2_37_000_reuses_the_bitmap():
    codes = [S0.code, S1.code, 236000, 31031, 31031, 223255, 223255, 237000, 223255, 223255, 1001]
    data = bits((1, 4), (2, 4), *present_bits(0, 1), (9, 4), (8, 4), (5, 7))
    assert decoded(codes, data) == [
        numeric(S0, 1), numeric(S1, 2), marker(236000), numeric(PRESENT, 0),
        numeric(PRESENT, 1), numeric(S0, 9), marker(237000), numeric(S0, 8), numeric(BLOCK, 5)]


def test_2_37_with_operand_cancels_the_bitmap():
    codes = [S0.code, S1.code, 236000, 31031, 31031, 223255, 237001, 223255, 31031, 223255, 1001]
    data = bits((1, 4), (2, 4), *present_bits(0, 0), (9, 4), *present_bits(0), (8, 4), (5, 7))
    assert decoded(codes, data) == [
        numeric(S0, 1), numeric(S1, 2), marker(236000), numeric(PRESENT, 0),
        numeric(PRESENT, 0), numeric(S0, 9), marker(237001), numeric(PRESENT, 0),
        numeric(S0, 8), numeric(BLOCK, 5)]


def test_bitmap_reference_outside_history():
    codes = [S0.code, S1.code, 236000, 31031, 31031, 31031, 223255, 223255, 223255]
    data = bits((1, 4), (2, 4), *present_bits(0, 0, 0), (3, 4), (4, 4), (5, 4))
    assert decode_error(codes, data) == OUTSIDE


def test_history_holds_factors_and_earlier_class_31():
    codes = [31031, 101000, 31001, S0.code, 236000, 31031, 31031, 31031, 31031, 223255, 223255,
             223255]
    data = bits(*present_bits(1), (2, 8), (3, 4), (4, 4), *present_bits(0, 0, 1, 0), (1, 1),
                (200, 8), (6, 4))
    assert decoded(codes, data) == [
        numeric(PRESENT, 1), numeric(FACTOR, 2), numeric(S0, 3), numeric(S0, 4), marker(236000),
        *[numeric(PRESENT, b) for b in (0, 0, 1, 0)],
        numeric(PRESENT, 1), numeric(FACTOR, 200), numeric(S0, 6)]


def test_back_references_are_not_history():
    # The second bitmap starts after S0 and S1; had the back-reference joined
    # the history, it would point at that copy of S0 instead of at S1.
    codes = [S0.code, S1.code, 236000, 31031, 31031, 223255, 236000, 31031, 223255]
    data = bits((1, 4), (2, 4), *present_bits(0, 1), (5, 4), *present_bits(0), (6, 4))
    assert decoded(codes, data) == [
        numeric(S0, 1), numeric(S1, 2), marker(236000), numeric(PRESENT, 0),
        numeric(PRESENT, 1), numeric(S0, 5), marker(236000), numeric(PRESENT, 0),
        numeric(S1, 6)]


def test_no_associated_field_before_a_back_reference():
    codes = [S0.code, 236000, 31031, 204004, 223255, 204000]
    assert decoded(codes, bits((1, 4), *present_bits(0), (9, 4))) == [
        numeric(S0, 1), marker(236000), numeric(PRESENT, 0), numeric(S0, 9)]


def test_bitmap_octet_is_the_scaled_value():
    # Scale 1 makes each indicator 0.1, which truncates to 0: both referenced.
    codes = [S0.code, S1.code, 202129, 236000, 31031, 31031, 202000, 223255, 223255]
    data = bits((1, 4), (2, 4), *present_bits(1, 1), (5, 4), (6, 4))
    indicator = dataclasses.replace(PRESENT, scale=1)
    assert decoded(codes, data) == [
        numeric(S0, 1), numeric(S1, 2), marker(236000), numeric(indicator, 1),
        numeric(indicator, 1), numeric(S0, 5), numeric(S1, 6)]


def test_back_reference_to_text():
    t16 = text_element(16)
    codes = [t16.code, 236000, 31031, 223255]
    assert decoded(codes, b"AB" + bits(*present_bits(0), (ord("C"), 8), (ord("D"), 8))) == [
        text(t16, "AB", 1002.0), marker(236000), numeric(PRESENT, 0), text(t16, "CD", 2002.0)]


@pytest.mark.parametrize("element, raw", [
    (BLOCK, 120), (BLOCK, 128), (TEMPERATURE, 65536 - 250), (NOTHING, 0), (NOTHING, 1),
])
def test_2_25_255_reads_a_difference(element, raw):
    codes = [element.code, 236000, 31031, 225000, 225255]
    width = element.width
    data = bits((0, width), *present_bits(0), (raw, width + 1))
    difference = dataclasses.replace(element, width=width + 1, reference=-(1 << width))
    assert decoded(codes, data) == [
        numeric(element, 0), marker(236000), numeric(PRESENT, 0), marker(225000),
        numeric(difference, raw)]


def test_2_25_255_on_64_bits_fails():
    with pytest.raises(ValueError):
        decode([49064, 236000, 31031, 225255], bytes(24))


# ---- Subsets -----------------------------------------------------------------------

def test_each_subset_starts_with_fresh_operators():
    values = decoded([1001, 201129, 204004], bits((1, 7), (2, 7)), subsets=2)
    assert values == [numeric(BLOCK, 1), numeric(BLOCK, 2)]


def test_subsets_follow_one_another():
    values = decoded([1001, 12101], bits((1, 7), (29815, 16), (2, 7), (65535, 16)), subsets=2)
    assert values == [numeric(BLOCK, 1), numeric(TEMPERATURE, 29815), numeric(BLOCK, 2),
                      numeric(TEMPERATURE, 65535)]


def test_second_subset_reads_on_from_the_first():
    assert decode_error([1001], bits((1, 7)), subsets=2) == not_enough_bits(7, 7, 8)


def test_no_subsets_reads_nothing():
    assert decoded([1001, 48255, 340255], subsets=0) == []


def test_trailing_bits_are_ignored():
    assert decoded([1001], bits((3, 7)) + bytes(10)) == [numeric(BLOCK, 3)]


# ---- Failures ----------------------------------------------------------------------

def test_worked_bit_reader_example():
    codes = [49004, 49008, 49004]
    assert decoded(codes, b"\xa5\x0f") == [
        numeric(width_element(4), 10), numeric(width_element(8), 0x50),
        numeric(width_element(4), 15)]
    assert decode_error(codes + [49001], b"\xa5\x0f") == not_enough_bits(16, 1, 16)


@pytest.mark.parametrize("start", range(8))
@pytest.mark.parametrize("width", [1, 7, 8, 9, 16, 57, 63, 64])
def test_reads_at_every_start_bit(start, width):
    codes = [49000 + start, 49000 + width]
    raw = int("10" * 32, 2) >> (64 - width)
    pad = -(start + width) % 8
    data = bits((0, start), (raw, width), ((1 << pad) - 1, pad))
    length = len(data)
    assert decoded(codes, data) == [numeric(width_element(start), 0),
                                    numeric(width_element(width), raw)]
    short = data[:length - 1]
    failing = (start, width) if start <= 8 * len(short) else (0, start)
    assert decode_error(codes, short) == not_enough_bits(*failing, 8 * len(short))


def test_64_bit_all_ones_and_65_bits():
    assert decoded([49064], b"\xff" * 8) == [
        Value(49064, "WIDTH 64", 18446744073709551615, 18446744073709551615.0)]
    assert decode_error([49065], b"\xff" * 16) == ERROR_PREFIX + "cannot read 65 bits into u64"
    assert decode_error([49065]) == ERROR_PREFIX + "cannot read 65 bits into u64"


@pytest.mark.parametrize("codes, data, failing", [
    # A character field fails at the octet that crosses the end.
    ([49004, 50024], bytes(3), (20, 8, 24)),
    ([49005, 50012], bytes(2), (13, 4, 16)),
    ([50016], bytes(1), (8, 8, 8)),
    ([1015], bytes(0), (0, 8, 0)),
])
def test_text_running_off_the_end(codes, data, failing):
    assert decode_error(codes, data) == not_enough_bits(*failing)


def test_first_failure_wins():
    assert decode_error([1001, 48255]) == not_enough_bits(0, 7, 0)
    assert decode_error([48255, 1001]) == "descriptor 048255 was not found in Table B"


def test_missing_element_prints_six_digits():
    data = message([1001], bits((1, 7)))
    with pytest.raises(ValueError) as caught:
        decode_values_with_tables(data, TableSet())
    assert str(caught.value) == "descriptor 001001 was not found in Table B"


@pytest.mark.parametrize("codes", [
    [103000, 31090, 101000, 31090, 48000],
    [103000, 31090, 101000, 31090, 222000],
])
def test_too_many_values(codes):
    with pytest.raises(ValueError, match="section 4 decode exceeded 2097152 values"):
        decode(codes)


# ---- Against a reference decoder -------------------------------------------------


def reference_decode(codes, data, subsets):
    """Elements, regular and delayed replication, read straight from the rules."""
    reader = Reader(data)
    values = []
    texts = 0

    def element(code):
        nonlocal texts
        e = REF_TABLE[code]
        if e.is_text:
            content = decode_text(reader.read_bytes(e.width))
            texts += 1
            values.append(text(e, content, float(e.width // 8 + texts * 1000)))
            return values[-1].raw_value
        values.append(numeric(e, reader.read(e.width)))
        return values[-1].raw_value

    def walk(items):
        i = 0
        while i < len(items):
            f, x, y = items[i] // 100000, items[i] // 1000 % 100, items[i] % 1000
            if f == 0:
                element(items[i])
                i += 1
            elif y:
                for _ in range(y):
                    walk(items[i + 1:i + 1 + x])
                i += 1 + x
            else:
                factor = element(items[i + 1])
                for _ in range(0 if factor is None else int(max(factor, 0))):
                    walk(items[i + 2:i + 2 + x])
                i += 2 + x

    try:
        for _ in range(subsets):
            walk(codes)
    except RefFailure as failure:
        return str(failure)
    return values


# Half the time the drawn octets repeat to plenty of data, so that most of
# those decodes finish; the other half they mostly run short.
section4_data = st.tuples(st.binary(min_size=1, max_size=40), st.booleans()).map(
    lambda t: t[0] * (400 // len(t[0])) if t[1] else t[0])


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(codes=descriptor_lists, data=section4_data,
       subsets=st.sampled_from([0, 1, 1, 2, 3]))
def test_agrees_with_the_reference_decoder(codes, data, subsets):
    expected = reference_decode(codes, data, subsets)
    try:
        outcome = observe(decode(codes, data, subsets=subsets, tables=ref_tables()))
    except ValueError as error:
        outcome = str(error)
    event("fails" if isinstance(expected, str) else "decodes" if expected else "empty")
    assert outcome == expected
