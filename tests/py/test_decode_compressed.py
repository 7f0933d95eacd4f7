"""Compressed section-4 decoding seen from Python: a numeric column with a
missing increment, text columns whose subsets share or differ in text, a
large result whose values outlive their list, and a comparison with a small
reference decoder on random messages. The column rules themselves are tested
against the core in tests/core/decode_compressed_test.cpp."""

from __future__ import annotations

import sys

from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from decode_support import (BLOCK, CODETABLES, ERROR_PREFIX, REF_TABLE, REGION, TEMPERATURE,
                            Reader, RefFailure, Value, bits, decode, decode_text, decoded,
                            descriptor_lists, observe, observed, ref_tables, tables_with, text,
                            text_element)

VARYING = ERROR_PREFIX + "compressed delayed replication with varying factors is not implemented"
T32 = text_element(32)


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


# ---- Numeric columns ---------------------------------------------------------------

def test_the_worked_temperature_example():
    values = compressed([12101], column(29815, 16, 4, [0, 15, 3]), 3)
    assert values == [Value(12101, TEMPERATURE.name, 29815, 25.0),
                      Value(12101, TEMPERATURE.name, 29815, None),
                      Value(12101, TEMPERATURE.name, 29818, 25.03)]


# ---- Text columns ------------------------------------------------------------------

def test_text_column_with_increments():
    values = compressed([T32.code, T32.code],
                        [b"XXXX", (2, 6), b"ab", b"c ", b"\xff\xff", b"\xff\xff\xff\xff", (0, 6)],
                        3)
    assert values == [text(T32, "ab", 1004.0), text(T32, None, 4004.0),
                      text(T32, "c", 2004.0), text(T32, None, 5004.0),
                      text(T32, None, 3004.0), text(T32, None, 6004.0)]


# ---- Large results ---------------------------------------------------------------

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
