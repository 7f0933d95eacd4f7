"""Any list of codes expands to a list or fails with ValueError, and agrees
with the reference expander wherever that one finishes within its budget.

Expansion is bounded in depth and in descriptors visited, so every example
ends; the deadline is off because a rare example runs up to the bound."""

from __future__ import annotations

import functools

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from _quorvel import TableSet, expand_descriptors
from test_expansion_support import (module_outcome, read_sequences, reference_outcome,
                                    version_directory, write_table_directory)

# A small table set with the shapes that matter: nesting, empty sequences,
# replications that run off the end of their sequence, associated fields,
# a ring of two and a sequence that names a missing one.
SMALL_SEQUENCES = {
    300001: [1001, 1002],
    300002: [300001, 101002, 1003],
    300003: [204004, 31021, 1001, 204000],
    300004: [102000, 31001, 1001, 1002],
    300005: [300006],
    300006: [300005],
    300007: [],
    300008: [201130, 12101, 201000, 222000, 101003, 300001],
    300009: [101256, 31001, 1001],
    300010: [300001, 300003, 1004, 300007],
    300011: [204300, 1001, 300012],
    300012: [301999],
    300013: [103002, 300001, 31001, 204000],
}

BUDGET = 200_000
FUZZ_SETTINGS = settings(max_examples=250, deadline=None,
                         suppress_health_check=[HealthCheck.too_slow])


def descriptor(f, x, y):
    return f * 100000 + x * 1000 + y


elements = st.builds(descriptor, st.just(0), st.sampled_from([1, 2, 4, 5, 12, 31, 63, 99]),
                     st.integers(0, 999))
replications = st.builds(descriptor, st.just(1), st.integers(0, 6),
                         st.sampled_from([0, 0, 1, 2, 3, 255, 256, 257, 999]))
operators = st.builds(descriptor, st.just(2),
                      st.sampled_from([0, 1, 2, 3, 4, 4, 4, 5, 6, 7, 8, 9, 22, 23, 24, 37, 99]),
                      st.sampled_from([0, 1, 8, 255, 256, 300]))
missing_sequences = st.builds(descriptor, st.just(3), st.integers(0, 99), st.integers(0, 999))
invalid = st.one_of(st.integers(400000, 999999), st.integers(1000000, 2**32 - 1))


def code_lists(sequence_codes):
    known = st.sampled_from(sorted(sequence_codes))
    # Codes that always fail come one time in about twenty-five.
    rare = st.one_of(missing_sequences, invalid, st.integers(0, 2**32 - 1))
    kinds = [elements] * 8 + [replications] * 5 + [operators] * 4 + [known] * 6 + [rare]
    codes = st.sampled_from(kinds).flatmap(lambda kind: kind)
    return st.lists(codes, max_size=14)


@functools.lru_cache(maxsize=None)
def small_directory(base):
    return write_table_directory(base, sequences=SMALL_SEQUENCES)


@functools.lru_cache(maxsize=None)
def version37():
    directory = version_directory(37)
    return TableSet.from_eccodes(str(directory)), read_sequences(directory / "sequence.def")


def check_against_reference(expand, sequences, codes):
    kind, result = module_outcome(expand, codes)
    assert kind in ("ok", "error")
    if kind == "ok":
        assert type(result) is list
        assert all(type(code) is int and 0 <= code < 2**32 for code in result)
    expected = reference_outcome(sequences, codes, BUDGET)
    if expected[0] != "unknown":
        assert (kind, result) == expected


@FUZZ_SETTINGS
@given(codes=code_lists(SMALL_SEQUENCES))
def test_small_table_set(tmp_path_factory, codes):
    directory = small_directory(tmp_path_factory.getbasetemp() / "fuzz-small")
    tables = TableSet.from_eccodes(directory)
    check_against_reference(tables.expand, SMALL_SEQUENCES, codes)


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(codes=code_lists(SMALL_SEQUENCES))
def test_small_table_directory(tmp_path_factory, codes):
    directory = small_directory(tmp_path_factory.getbasetemp() / "fuzz-small")
    check_against_reference(lambda c: expand_descriptors(directory, c), SMALL_SEQUENCES, codes)


@FUZZ_SETTINGS
@given(data=st.data())
def test_version_37(data):
    tables, sequences = version37()
    codes = data.draw(code_lists(sequences))
    check_against_reference(tables.expand, sequences, codes)
