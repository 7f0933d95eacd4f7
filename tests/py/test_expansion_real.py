"""Expansion of the real ecCodes master tables against the reference expander
run over the same "sequence.def", read without the module."""

from __future__ import annotations

import pytest

from _quorvel import TableSet, expand_descriptors
from test_expansion_support import (DEFINITIONS_ROOT, module_outcome, read_sequences,
                                    reference_expand, reference_outcome, version_directory)

# 3-09-052 of version 37, walked by hand through its members:
# 301111 = 301001 (001001 001002) 001011 002011 002013 002014 002003
# 301113 = 008021 301011 (004001 004002 004003) 301013 (004004 004005 004006)
# 301114 = 301021 (005001 006001) 007030 007031 007007 033024
# 302049 = 008002 020011 020013 020012 020012 020012 008002, then 022043
# 101000 031002 303054: the factor, then 004086 008042 007004 010009 005015
#   006015 012101 012103 011001 011002
# 101000 031001 303051: the factor, then 004086 008042 007004 005015 006015
#   011061 011062
TEMP_309052 = [
    1001, 1002, 1011, 2011, 2013, 2014, 2003,
    8021, 4001, 4002, 4003, 4004, 4005, 4006,
    5001, 6001, 7030, 7031, 7007, 33024,
    8002, 20011, 20013, 20012, 20012, 20012, 8002, 22043,
    31002, 4086, 8042, 7004, 10009, 5015, 6015, 12101, 12103, 11001, 11002,
    31001, 4086, 8042, 7004, 5015, 6015, 11061, 11062,
]


def master_versions():
    directory = DEFINITIONS_ROOT / "bufr" / "tables" / "0" / "wmo"
    if not directory.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason="ecCodes definitions absent"))]
    return sorted(int(entry.name) for entry in directory.iterdir() if entry.name.isdigit())


@pytest.fixture(scope="module")
def version37():
    directory = version_directory(37)
    return str(directory), read_sequences(directory / "sequence.def")


def test_the_hand_walk_of_309052_matches_the_reference(version37):
    _, sequences = version37
    assert reference_expand(sequences, [309052]) == TEMP_309052


@pytest.mark.parametrize("code", [307080, 309052])
def test_version_37_sequence(version37, code):
    directory, sequences = version37
    expected = reference_expand(sequences, [code])
    assert TableSet.from_eccodes(directory).expand([code]) == expected
    assert expand_descriptors(directory, [code]) == expected


def test_307080_holds_its_pieces_in_order(version37):
    # 307080 starts with 301090 = 301004 301011 301012 301021 007030 007031
    # and ends with 101002 302045 (seven codes, twice) 302046 (three codes).
    directory, _ = version37
    result = TableSet.from_eccodes(directory).expand([307080])
    assert result[:13] == [1001, 1002, 1015, 2001, 4001, 4002, 4003, 4004, 4005, 5001, 6001,
                           7030, 7031]
    tail = [4024, 14002, 14004, 14016, 14028, 14029, 14030]
    assert result[-17:] == tail + tail + [4024, 4024, 12049]


def test_a_message_list_of_sequences(version37):
    directory, sequences = version37
    codes = [204004, 31021, 309052, 204000, 101000, 31001, 307080]
    expected = reference_expand(sequences, codes)
    assert TableSet.from_eccodes(directory).expand(codes) == expected
    # Every element of 309052 but its two class-31 factors carries a marker.
    assert expected.count(999999) == len(TEMP_309052) - 2


@pytest.mark.parametrize("version", master_versions())
def test_every_sequence_of_a_master_version(version):
    directory = version_directory(version)
    sequences = read_sequences(directory / "sequence.def")
    tables = TableSet.from_eccodes(str(directory))
    assert tables.sequence_count == len(sequences)
    mismatches = []
    for code in sorted(sequences):
        got = module_outcome(tables.expand, [code])
        expected = reference_outcome(sequences, [code])
        if got != expected:
            mismatches.append((code, got, expected))
    assert mismatches == []
