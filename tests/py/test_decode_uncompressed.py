"""Uncompressed section-4 decoding seen from Python: the fields of each
DecodedValue, missing values and meanings, text, associated fields, failure
texts as ValueError, the bound on values, and a comparison with a small
reference decoder on random messages. The value rules themselves are tested
against the core in tests/core/decode_uncompressed_test.cpp."""

from __future__ import annotations

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from _quorvel import TableSet, decode_values_with_tables
from decode_support import (BLOCK, NAME, PRESENT, REF_TABLE, REGION, STATION, TEMPERATURE,
                            Reader, RefFailure, Value, associated, bits, decode, decode_error,
                            decode_text, decoded, descriptor_lists, message, not_enough_bits,
                            numeric, observe, ref_tables, text, text_element, width_element)


def test_the_worked_temperature_example():
    assert decoded([12101], bits((29815, 16))) == [
        Value(12101, "TEMPERATURE/AIR TEMPERATURE", 29815, 25.0)]
    assert decoded([12101], bits((65535, 16))) == [
        Value(12101, "TEMPERATURE/AIR TEMPERATURE", 65535, None)]


def test_missing_values_keep_raw_and_meaning():
    assert decoded([1003, 12101], bits((7, 3), (65535, 16))) == [
        Value(1003, REGION.name, 7, None, None, "MISSING VALUE"),
        Value(12101, TEMPERATURE.name, 65535, None)]


def test_text_ordinals_count_across_subsets():
    t16 = text_element(16)
    values = decoded([1015, t16.code], b"FIRST   ab" + b"SECOND  cd", subsets=2)
    assert values == [text(NAME, "FIRST", 1008.0), text(t16, "ab", 2002.0),
                      text(NAME, "SECOND", 3008.0), text(t16, "cd", 4002.0)]


def test_associated_fields():
    codes = [204004, 12101, 31031, 101000, 1001, 1002, 1015, 204000, 1001]
    data = bits((15, 4), (29815, 16), (1, 1), (1, 7), (0, 4), (7, 10), (3, 4), b"NAME    ",
                (9, 7))
    assert decoded(codes, data) == [
        associated(15), numeric(TEMPERATURE, 29815), numeric(PRESENT, 1),
        # No associated field before a factor, whatever its class.
        numeric(BLOCK, 1), associated(0), numeric(STATION, 7),
        associated(3), text(NAME, "NAME", 1008.0), numeric(BLOCK, 9)]


def test_worked_bit_reader_example():
    codes = [49004, 49008, 49004]
    assert decoded(codes, b"\xa5\x0f") == [
        numeric(width_element(4), 10), numeric(width_element(8), 0x50),
        numeric(width_element(4), 15)]
    assert decode_error(codes + [49001], b"\xa5\x0f") == not_enough_bits(16, 1, 16)


def test_missing_element_prints_six_digits():
    data = message([1001], bits((1, 7)))
    with pytest.raises(ValueError) as caught:
        decode_values_with_tables(data, TableSet())
    assert str(caught.value) == "descriptor 001001 was not found in Table B"


def test_too_many_values():
    with pytest.raises(ValueError, match="section 4 decode exceeded 2097152 values"):
        decode([103000, 31090, 101000, 31090, 222000])


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
