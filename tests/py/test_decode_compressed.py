"""Compressed section-4 decoding: columns of reference value, increment
width and increments, their missing values, text columns, factors that must
agree, the subset-by-subset layout, and a comparison with a small reference
decoder on random messages."""

from __future__ import annotations

import dataclasses
import sys

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from decode_support import (BLOCK, CODETABLES, ERROR_PREFIX, FACTOR, NOTHING, PRESENT,
                            REF_TABLE, REGION, SERIES, STATION, TEMPERATURE, Reader, RefFailure,
                            Value, associated, bits, chain, decode, decode_error, decode_text,
                            decoded, descriptor_lists, marker, not_enough_bits, observe, observed,
                            ref_tables, tables_with, text, text_element)

VARYING = ERROR_PREFIX + "compressed delayed replication with varying factors is not implemented"
TOO_DEEP = ERROR_PREFIX + "compressed descriptor decode exceeded recursion depth"
T32 = text_element(32)
S0, S1 = SERIES[:2]


def entry(element, r0, increment=0, nbinc=0, *, width=None):
    """One subset's value of a numeric column."""
    width = element.width if width is None else width
    allowed = element.code // 1000 % 100 != 31
    missing = allowed and width < 64 and r0 == (1 << width) - 1
    if nbinc and allowed and increment == (1 << nbinc) - 1:
        missing = True
    raw = r0 if missing else r0 + increment
    value = None if missing else float(element.reference + raw) / 10.0 ** element.scale
    return Value(element.code, element.name, raw, value, None,
                 CODETABLES.get(element.code, {}).get(raw))


def column(r0, width, nbinc=0, increments=()):
    """The bit fields of one numeric column."""
    return [(r0, width), (nbinc, 6), *[(i, nbinc) for i in increments]]


def by_subset(*columns):
    """Lays columns out subset by subset, as the decoder returns them."""
    return [c[k] for k in range(len(columns[0])) for c in columns]


def compressed(codes, fields, subsets, **kwargs):
    return decoded(codes, bits(*fields), subsets=subsets, compressed=True, **kwargs)


def compressed_error(codes, fields, subsets, **kwargs):
    return decode_error(codes, bits(*fields), subsets=subsets, compressed=True, **kwargs)


# ---- Numeric columns ---------------------------------------------------------------

def test_the_worked_temperature_example():
    values = compressed([12101], column(29815, 16, 4, [0, 15, 3]), 3)
    assert values == [Value(12101, TEMPERATURE.name, 29815, 25.0),
                      Value(12101, TEMPERATURE.name, 29815, None),
                      Value(12101, TEMPERATURE.name, 29818, 25.03)]


def test_missing_reference_without_increments():
    values = compressed([12101], column(65535, 16), 3)
    assert values == [Value(12101, TEMPERATURE.name, 65535, None)] * 3


def test_missing_reference_with_increments():
    values = compressed([1001], column(127, 7, 2, [0, 1, 3]), 3)
    assert values == [entry(BLOCK, 127)] * 3
    assert [v.raw for v in values] == [127] * 3


@pytest.mark.parametrize("element, r0, nbinc, increments", [
    (FACTOR, 255, 0, [0, 0]),
    (FACTOR, 255, 2, [0, 3]),
    (PRESENT, 1, 1, [1, 0]),
    (BLOCK, 5, 0, [0, 0]),
    (BLOCK, 5, 3, [0, 6]),
    (TEMPERATURE, 0, 16, [29815, 65534]),
    # A missing increment keeps the reference value as raw, which has a meaning here.
    (REGION, 0, 3, [1, 7]),
    (REGION, 7, 0, [0, 0]),
    # At width 0 the reference value 0 is all ones: every subset is missing.
    (NOTHING, 0, 3, [1, 2]),
])
def test_numeric_columns(element, r0, nbinc, increments):
    values = compressed([element.code], column(r0, element.width, nbinc, increments), 2)
    assert values == [entry(element, r0, i, nbinc) for i in increments]


def test_subsets_are_laid_out_one_after_another():
    values = compressed([1001, 1002], column(1, 7, 2, [0, 1]) + column(10, 10, 2, [1, 2]), 2)
    assert values == [entry(BLOCK, 1), entry(STATION, 11), entry(BLOCK, 2), entry(STATION, 12)]


def test_operators_apply_to_every_subset():
    fields = column(300, 9, 2, [0, 2]) + column(10, 10, 2, [0, 1])
    values = compressed([201130, 1001, 201000, 1002], fields, 2)
    wide = dataclasses.replace(BLOCK, width=9)
    assert values == [entry(wide, 300), entry(STATION, 10), entry(wide, 302), entry(STATION, 11)]


def test_2_07_in_a_compressed_message():
    values = compressed([207002, 12101], column(2981500, 23, 1, [0, 1]), 2)
    changed = dataclasses.replace(TEMPERATURE, width=23, scale=4, reference=-2731500)
    assert values == [entry(changed, 2981500), entry(changed, 2981500, 1, 1)]
    assert values[0].raw_value == 25.0


def test_associated_field_columns_are_never_missing():
    fields = column(15, 4, 1, [0, 1]) + column(3, 7, 0)
    values = compressed([204004, 1001, 31031], fields + column(1, 1, 0), 2)
    assert values == [associated(15), entry(BLOCK, 3), entry(PRESENT, 1),
                      associated(16), entry(BLOCK, 3), entry(PRESENT, 1)]


@pytest.mark.parametrize("operator", [222000, 236000, 237000, 241000])
def test_markers_fill_a_column(operator):
    values = compressed([operator, 1001], column(3, 7, 2, [0, 1]), 2)
    assert values == [marker(operator), entry(BLOCK, 3), marker(operator), entry(BLOCK, 4)]


# ---- Text columns ------------------------------------------------------------------

def test_text_column_without_increments():
    values = compressed([T32.code], [b"AB  ", (0, 6)], 3)
    assert values == [text(T32, "AB", 1004.0), text(T32, "AB", 2004.0), text(T32, "AB", 3004.0)]


def test_text_column_with_increments():
    values = compressed([T32.code, T32.code],
                        [b"XXXX", (2, 6), b"ab", b"c ", b"\xff\xff", b"\xff\xff\xff\xff", (0, 6)],
                        3)
    assert values == [text(T32, "ab", 1004.0), text(T32, None, 4004.0),
                      text(T32, "c", 2004.0), text(T32, None, 5004.0),
                      text(T32, None, 3004.0), text(T32, None, 6004.0)]


def test_text_column_increment_width_counts_octets():
    # One octet per subset, read at any bit position.
    values = compressed([1001, T32.code], column(3, 7, 0) + [b"....", (1, 6), b"\xc4", b" "], 2)
    assert values == [entry(BLOCK, 3), text(T32, "?", 1004.0),
                      entry(BLOCK, 3), text(T32, "", 2004.0)]


# ---- Replication and sequences -----------------------------------------------------

def test_regular_replication():
    fields = column(1, 7, 2, [0, 1]) + column(5, 7, 0)
    values = compressed([101002, 1001], fields, 2)
    assert values == [entry(BLOCK, 1), entry(BLOCK, 5), entry(BLOCK, 2), entry(BLOCK, 5)]


def test_delayed_replication_with_equal_factors():
    fields = column(2, 8, 1, [0, 0]) + column(1, 7, 2, [0, 1]) + column(3, 7, 0)
    values = compressed([101000, 31001, 1001], fields, 2)
    assert values == [entry(FACTOR, 2), entry(BLOCK, 1), entry(BLOCK, 3),
                      entry(FACTOR, 2), entry(BLOCK, 2), entry(BLOCK, 3)]


@pytest.mark.parametrize("factor, fields", [
    (FACTOR, column(2, 8, 2, [0, 0, 1])),
    # A missing value after a present first one varies too.
    (BLOCK, column(2, 7, 2, [0, 3, 0])),
])
def test_varying_factors_fail(factor, fields):
    assert compressed_error([101000, factor.code, 1002], fields + column(0, 10), 3) == VARYING


@pytest.mark.parametrize("fields, factors", [
    (column(127, 7), [entry(BLOCK, 127)] * 3),
    # When the first subset's factor is missing the others are not compared.
    (column(2, 7, 2, [3, 0, 1]), [entry(BLOCK, 2, 3, 2), entry(BLOCK, 2), entry(BLOCK, 3)]),
])
def test_missing_first_factor_skips_the_group(fields, factors):
    values = compressed([101000, 1001, 1002, 12101], fields + column(29815, 16), 3)
    assert values == by_subset(factors, [entry(TEMPERATURE, 29815)] * 3)


def test_sequences_nest():
    tables = tables_with(((340001, (1001, 340002)), (340002, (1002,))))
    values = compressed([340001], column(1, 7, 0) + column(2, 10, 0), 2, tables=tables)
    assert values == [entry(BLOCK, 1), entry(STATION, 2)] * 2


@pytest.mark.parametrize("length, outcome", [(64, [entry(BLOCK, 3)]), (65, TOO_DEEP)])
def test_nesting_depth(length, outcome):
    tables = tables_with(chain(342001, length, (1001,)))
    if isinstance(outcome, str):
        assert compressed_error([342001], column(3, 7), 1, tables=tables) == outcome
    else:
        assert compressed([342001], column(3, 7), 1, tables=tables) == outcome


@pytest.mark.parametrize("codes, error", [
    ([101000], "unsupported replication descriptor 101000"),
    ([101000, 31001], "delayed replication descriptor 101000 is missing its replication "
                      "factor or replicated descriptors"),
    ([101000, 31099, 1001], "descriptor 031099 was not found in Table B"),
    ([48255], "descriptor 048255 was not found in Table B"),
    ([340255], "descriptor 340255 was not found in Table D"),
])
def test_structure_errors(codes, error):
    assert compressed_error(codes, [bytes(8)], 2) == error


# ---- Bitmaps -----------------------------------------------------------------------

def test_bitmap_takes_the_first_subsets_indicator():
    codes = [S0.code, S1.code, 236000, 31031, 31031, 223255, 223255]
    fields = (column(1, 4, 2, [0, 1]) + column(5, 4, 0) + column(0, 1, 1, [0, 1])
              + column(0, 1, 1, [1, 0]) + column(9, 4, 2, [0, 1]))
    values = compressed(codes, fields, 2)
    assert values == by_subset(
        [entry(S0, 1), entry(S0, 2)], [entry(S1, 5)] * 2, [marker(236000)] * 2,
        [entry(PRESENT, 0), entry(PRESENT, 1)], [entry(PRESENT, 1), entry(PRESENT, 0)],
        [entry(S0, 9), entry(S0, 10)])


def test_2_25_255_column():
    codes = [1001, 236000, 31031, 225255]
    fields = column(0, 7) + column(0, 1) + column(120, 8, 2, [0, 2])
    difference = dataclasses.replace(BLOCK, width=8, reference=-128)
    values = compressed(codes, fields, 2)
    assert values == by_subset([entry(BLOCK, 0)] * 2, [marker(236000)] * 2,
                               [entry(PRESENT, 0)] * 2,
                               [entry(difference, 120), entry(difference, 120, 2, 2)])
    assert [v.raw_value for v in values[3::4]] == [-8.0, -6.0]


def test_bitmap_reference_outside_history():
    codes = [S0.code, 236000, 31031, 31031, 223255, 223255]
    fields = column(1, 4) + column(0, 1) + column(0, 1) + column(2, 4)
    assert compressed_error(codes, fields, 2) == (
        ERROR_PREFIX + "bitmap reference is outside descriptor history")


# ---- No subsets and short data ---------------------------------------------------

def test_no_subsets_still_walks_and_reads():
    fields = column(3, 7, 5) + [b"ABCDEFGH", (3, 6)] + column(0, 8)
    assert compressed([1001, 1015, 101000, 31001, 1002], fields, 0) == []
    assert compressed_error([48255], [], 0) == "descriptor 048255 was not found in Table B"


def test_no_subsets_mark_every_bitmap_position():
    # Without a first subset each indicator counts as 0, so the back-reference
    # reads a column of S0: its reference value and its increment width.
    codes = [S0.code, 236000, 31031, 223255]
    fields = column(1, 4) + column(1, 1) + column(2, 4)
    assert compressed(codes, fields, 0) == []
    assert compressed_error(codes, fields[:-1], 0) == not_enough_bits(21, 6, 24)


@pytest.mark.parametrize("codes, fields, subsets, failing", [
    ([1001], [], 2, (0, 7, 0)),
    ([1001], [(3, 7)], 0, (7, 6, 8)),
    ([1001], [(3, 7)], 2, (7, 6, 8)),
    ([1001], column(3, 7, 4, [1, 2]), 3, (21, 4, 24)),
    ([T32.code], [b"ABCD", (1, 6), b"x"], 2, (46, 8, 48)),
])
def test_short_data(codes, fields, subsets, failing):
    assert compressed_error(codes, fields, subsets) == not_enough_bits(*failing)


def test_large_result_in_order_and_values_outlive_the_list():
    """Many subsets of several columns (with meanings, missing values and a
    text column), enough values for the decoder's buffers to move and grow
    twice: the result lies subset by subset, and values kept after the list
    is gone stay intact."""
    import gc
    subsets = 3000
    blocks = [k % 100 for k in range(subsets)]
    regions = [k % 3 for k in range(subsets)]
    temperatures = [k % 255 for k in range(subsets)]
    names = [f"S{k % 7:03d}".encode() for k in range(subsets)]
    fields = []
    expected_columns = []
    groups = 12
    for group in range(groups):
        fields += column(0, 7, 7, blocks)
        expected_columns.append([entry(BLOCK, 0, b, 7) for b in blocks])
        fields += column(0, 3, 2, regions)
        expected_columns.append([entry(REGION, 0, r, 2) for r in regions])
        fields += column(29000, 16, 8, temperatures)
        expected_columns.append([entry(TEMPERATURE, 29000, t, 8) for t in temperatures])
        fields += [b"\0" * 4, (4, 6), *names]
        # Texts are numbered through the message, subset by subset per column.
        expected_columns.append([text(T32, n.decode(), (group * subsets + k + 1) * 1000 + 4)
                                 for k, n in enumerate(names)])
    codes = [1001, 1003, 12101, T32.code] * groups
    data = bits(*fields)
    tables = tables_with(extra=(T32,))
    values = decode(codes, data, subsets=subsets, compressed=True, tables=tables)
    assert len(values) == 4 * groups * subsets
    expected = by_subset(*expected_columns)
    assert observe(values) == expected
    kept = {i: values[i] for i in range(0, len(values), 997)}
    del values
    gc.collect()
    decode(codes, data, subsets=subsets, compressed=True, tables=tables)
    assert {i: observed(v) for i, v in kept.items()} == {i: expected[i] for i in kept}


# The bound on values grows with the data area: 32 values per octet, from
# 2^21 for areas up to 64 KB to 2^23 for areas of 256 KB and more.
@pytest.mark.parametrize("data_octets, bound", [
    (1, 2097152),
    (65536, 2097152),
    (100000, 3200000),
    (262144, 8388608),
    (300000, 8388608),
])
def test_too_many_values(data_octets, bound):
    with pytest.raises(ValueError, match=f"section 4 decode exceeded {bound} values$"):
        decode([101000, 31090, 222000], bytes(data_octets), subsets=100, compressed=True)


# ---- Against a reference decoder -------------------------------------------------


def reference_decode(codes, data, n):
    reader = Reader(data)
    columns = []
    texts = 0

    def read_column(e):
        nonlocal texts
        if e.is_text:
            r0 = reader.read_bytes(e.width)
            nbinc = reader.read(6)
            contents = [decode_text(reader.read_bytes(8 * nbinc)) if nbinc else decode_text(r0)
                        for _ in range(n)]
            result = [text(e, contents[k], float((texts * n + k + 1) * 1000 + e.width // 8))
                      for k in range(n)]
            texts += 1
        else:
            r0 = reader.read(e.width)
            nbinc = reader.read(6)
            result = [entry(e, r0, reader.read(nbinc), nbinc) for _ in range(n)]
        columns.append(result)
        return [v.raw_value for v in result]

    def walk(items):
        i = 0
        while i < len(items):
            f, x, y = items[i] // 100000, items[i] // 1000 % 100, items[i] % 1000
            if f == 0:
                read_column(REF_TABLE[items[i]])
                i += 1
            elif y:
                for _ in range(y):
                    walk(items[i + 1:i + 1 + x])
                i += 1 + x
            else:
                factors = read_column(REF_TABLE[items[i + 1]])
                count = 0
                if factors and factors[0] is not None:
                    if any(v is None or abs(v - factors[0]) > sys.float_info.epsilon
                           for v in factors):
                        raise RefFailure(VARYING)
                    count = int(max(factors[0], 0))
                for _ in range(count):
                    walk(items[i + 2:i + 2 + x])
                i += 2 + x

    try:
        walk(codes)
    except RefFailure as failure:
        return str(failure)
    return [c[k] for k in range(n) for c in columns]


# Many zero octets, so that increment widths are often 0 and factors agree;
# half the time they repeat to plenty of data.
section4_data = st.tuples(
    st.lists(st.one_of(st.just(0), st.integers(0, 255)), min_size=1, max_size=40).map(bytes),
    st.booleans()).map(lambda t: t[0] * (400 // len(t[0])) if t[1] else t[0])


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(codes=descriptor_lists, data=section4_data,
       subsets=st.sampled_from([0, 1, 1, 2, 3]))
def test_agrees_with_the_reference_decoder(codes, data, subsets):
    expected = reference_decode(codes, data, subsets)
    try:
        outcome = observe(decode(codes, data, subsets=subsets, compressed=True,
                                 tables=ref_tables()))
    except ValueError as error:
        outcome = str(error)
    event("fails" if isinstance(expected, str) else "decodes" if expected else "empty")
    assert outcome == expected
