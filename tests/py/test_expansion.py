"""Table D expansion through TableSet.expand and expand_descriptors: every
rule with its exact output or error text, the nesting and size bounds, and
the conversion of the `descriptors` and `table_dir` arguments."""

from __future__ import annotations

import array
import collections.abc
import enum
import errno
import os
from pathlib import Path

import pytest

from _quorvel import TableSet, expand_descriptors
from test_expansion_support import (ERROR_PREFIX, MAX_STEPS, element_row,
                                    reference_outcome, sequence_line, write_table_directory)

UNSUPPORTED = "unsupported replication descriptor {:06}"
MISSING_FACTOR = ("delayed replication descriptor {:06} is missing its replication factor "
                  "or replicated descriptors")
MISSING_SEQUENCE = "descriptor {:06} was not found in Table D"
INVALID = ERROR_PREFIX + "invalid descriptor {:06}"
TOO_DEEP = ERROR_PREFIX + "sequence expansion exceeded recursion depth"
TOO_LARGE = ERROR_PREFIX + f"sequence expansion exceeded {MAX_STEPS} descriptors"


class Fails(str):
    """An expected error message, told apart from an expected list."""


def no_such_file_text():
    return f"{os.strerror(errno.ENOENT)} (os error {errno.ENOENT})"


# Ten fixed replications of 255, each replicating everything after it, around
# an operator that appends nothing: 255**10 visits if nothing stopped it.
NESTED_REPLICATIONS = [100000 + x * 1000 + 255 for x in range(10, 0, -1)] + [201000]


# Fixed replications each replicating the rest, around one operator: they
# visit 1 + 19(1 + 2(1 + 33(1 + 208))) = 2**18 descriptors, exactly the
# bound. The case one past it checks the count as much as the code.
EXACT_BOUND_COUNTS = [19, 2, 33, 208]
EXACT_BOUND = [100000 + (len(EXACT_BOUND_COUNTS) - i) * 1000 + count
               for i, count in enumerate(EXACT_BOUND_COUNTS)] + [201000]


def nested_replications(depth, tail):
    """`depth` fixed replications of one copy, each replicating all that
    follows it, then `tail`: the tail is expanded `depth` levels down."""
    return [100000 + (depth - i + len(tail) - 1) * 1000 + 1 for i in range(depth)] + list(tail)


def chain(first, length, last_members):
    """Sequences first, first+1, ... each holding the next; the last holds
    `last_members`."""
    sequences = {first + i: [first + i + 1] for i in range(length - 1)}
    sequences[first + length - 1] = list(last_members)
    return sequences


# ---- Cases with no sequences: TableSet() and an empty directory agree -----------------

PLAIN_CASES = [
    ("empty list", [], []),
    ("elements need no Table B", [1001, 1002], [1001, 1002]),
    ("element zero", [0], [0]),
    ("elements keep odd X and Y", [63255, 99999], [63255, 99999]),
    ("fixed replication", [102002, 1001, 1002], [1001, 1002, 1001, 1002]),
    ("fixed replication continues after its group", [101002, 1001, 1002], [1001, 1001, 1002]),
    ("one copy", [101001, 1001], [1001]),
    ("255 copies", [101255, 1001], [1001] * 255),
    ("delayed replication keeps its factor", [101000, 31001, 1001], [31001, 1001]),
    ("delayed factor is not checked to be class 31", [101000, 1001, 1002], [1001, 1002]),
    ("delayed replication continues after its group", [101000, 31001, 1001, 1002],
     [31001, 1001, 1002]),
    ("one descriptor twice", [101002, 1001], [1001, 1001]),
    ("nested replication inside a group", [103002, 101002, 1001, 1002],
     [1001, 1001, 1002] * 2),
    ("delayed replication inside a fixed group", [104002, 101000, 31001, 1001, 1002],
     [31001, 1001, 1002] * 2),
    ("fixed replication too short", [102002, 1001], Fails(UNSUPPORTED.format(102002))),
    ("fixed replication with X of 0", [100003, 1001], Fails(UNSUPPORTED.format(100003))),
    ("delayed replication with X of 0", [100000, 31001, 1001], Fails(UNSUPPORTED.format(100000))),
    ("replication at the end", [1001, 101001], Fails(UNSUPPORTED.format(101001))),
    ("delayed replication without its group", [101000, 31001],
     Fails(MISSING_FACTOR.format(101000))),
    ("delayed replication shorter than X", [102000, 31001], Fails(UNSUPPORTED.format(102000))),
    ("delayed replication with X codes but no factor", [102000, 31001, 1001],
     Fails(MISSING_FACTOR.format(102000))),
    ("a group is all a nested replication sees", [102002, 102003, 1001, 1002],
     Fails(UNSUPPORTED.format(102003))),
    # Replication counts and 2-04 operands are octets: Y 256 is 0, 257 is 1.
    ("replication Y 256 is delayed", [101256, 31001, 1001], [31001, 1001]),
    ("replication Y 257 is one copy", [101257, 1001], [1001]),
    ("replication Y 511 is 255 copies", [101511, 1001], [1001] * 255),
    ("replication Y 512 without factor", [101512, 31001], Fails(MISSING_FACTOR.format(101512))),
    ("associated field", [204008, 1001, 31021, 204000, 1002], [999999, 1001, 31021, 1002]),
    ("class 31 never gets a marker", [204001, 31000, 31031, 31021, 1001],
     [31000, 31031, 31021, 999999, 1001]),
    ("2-04-000 cancels", [204008, 204000, 1001], [1001]),
    ("2-04 operand 256 cancels", [204008, 204256, 1001], [1001]),
    ("2-04 operand 257 sets", [204257, 1001], [999999, 1001]),
    ("markers on every copy", [204004, 102002, 1001, 31021],
     [999999, 1001, 31021, 999999, 1001, 31021]),
    ("width set in one copy holds in the next", [102002, 1001, 204008], [1001, 999999, 1001]),
    ("width set in a fixed group holds after it", [101001, 204008, 1001], [999999, 1001]),
    ("width set in a delayed group holds after it", [101000, 31001, 204001, 1002],
     [31001, 999999, 1002]),
    ("width set in a delayed group holds after it, ended", [102000, 31001, 204001, 1001, 1002],
     [31001, 999999, 1001, 999999, 1002]),
    ("operators that change descriptions", [201130, 12101, 201000, 222000], [12101, 222000]),
    ("absorbed operators", [201129, 202131, 206008, 207001, 208010, 204000, 206000], []),
    ("other operators pass", [200000, 203014, 205008, 209001, 222000, 223255, 224000, 225255,
                              232000, 235000, 236000, 237000, 241000, 242000, 243000, 299999],
     [200000, 203014, 205008, 209001, 222000, 223255, 224000, 225255, 232000, 235000, 236000,
      237000, 241000, 242000, 243000, 299999]),
    ("missing sequence", [301001], Fails(MISSING_SEQUENCE.format(301001))),
    ("F of 4", [400000], Fails(INVALID.format(400000))),
    ("the marker code is no input", [999999], Fails(INVALID.format(999999))),
    ("largest code", [2**32 - 1], Fails(INVALID.format(2**32 - 1))),
    ("nothing partial", [1001, 102002, 1001, 1002, 499999], Fails(INVALID.format(499999))),
    ("first failure wins: missing sequence", [301001, 400000],
     Fails(MISSING_SEQUENCE.format(301001))),
    ("first failure wins: invalid", [400000, 301001], Fails(INVALID.format(400000))),
    ("first failure wins: inside a group", [102001, 400000, 100000], Fails(INVALID.format(400000))),
    ("replications nested 64 deep", nested_replications(64, [1001]), [1001]),
    ("replications nested 65 deep", nested_replications(65, [1001]), Fails(TOO_DEEP)),
    ("exact bound", EXACT_BOUND, []),
    ("one past the bound", [201000] + EXACT_BOUND, Fails(TOO_LARGE)),
    ("nested replications", NESTED_REPLICATIONS, Fails(TOO_LARGE)),
    ("nested replications of an element", NESTED_REPLICATIONS[:-1] + [1001], Fails(TOO_LARGE)),
    ("the bound wins over a later fault", NESTED_REPLICATIONS + [400000], Fails(TOO_LARGE)),
    ("an earlier fault wins over the bound", [400000] + NESTED_REPLICATIONS,
     Fails(INVALID.format(400000))),
]


def check(outcome, run):
    if isinstance(outcome, Fails):
        with pytest.raises(ValueError) as caught:
            run()
        assert str(caught.value) == outcome
        return
    result = run()
    assert type(result) is list
    assert result == outcome


@pytest.mark.parametrize("descriptors, outcome",
                         [case[1:] for case in PLAIN_CASES], ids=[case[0] for case in PLAIN_CASES])
def test_expand_without_sequences(descriptors, outcome):
    check(outcome, lambda: TableSet().expand(descriptors))


@pytest.mark.parametrize("descriptors, outcome",
                         [case[1:] for case in PLAIN_CASES],
                         ids=[case[0] for case in PLAIN_CASES])
def test_expand_descriptors_without_sequences(tmp_path, descriptors, outcome):
    directory = write_table_directory(tmp_path / "tables")
    check(outcome, lambda: expand_descriptors(directory, descriptors))


@pytest.mark.parametrize("descriptors, outcome",
                         [case[1:] for case in PLAIN_CASES],
                         ids=[case[0] for case in PLAIN_CASES])
def test_reference_agrees_with_the_plain_cases(descriptors, outcome):
    # The reference expander serves the property and real-table tests; it has
    # to give what the rules say on every hand-written case first.
    kind, result = reference_outcome({}, descriptors, budget=100_000)
    if kind == "unknown":
        pytest.skip("too many descriptors for the reference expander")
    assert (kind, result) == (("error", outcome) if isinstance(outcome, Fails) else ("ok", outcome))


# ---- Cases with sequences -------------------------------------------------------------

SEQUENCES = {
    301001: [1001, 1002],
    301002: [301001, 301001],
    301003: [101002, 1001],
    301004: [101001],
    301005: [101000, 31001],
    301006: [301099],
    301007: [],
    301008: [204008],
    301009: [204008, 1001, 204000],
    301010: [101300, 1001],
    301011: [204300, 1001],
    301012: [204256, 1001],
    301013: [500000],
    301014: [204004, 31021, 301001],
    301020: [1001, 301020],
    301021: [301022],
    301022: [301021],
    301023: [102000, 31001, 301001],
    # A key whose F is not 3 is never looked up.
    1234: [1001],
    **chain(340001, 64, [1001]),
    **chain(341001, 65, [1001]),
    **chain(342001, 64, []),
    **chain(343001, 65, []),
    # 63 sequences and then a replication: the replicated group is the 65th level.
    **chain(344001, 63, [101001, 1001]),
    **chain(345001, 64, [101001, 1001]),
}

SEQUENCE_CASES = [
    ("sequence in place", [301001, 1003], [1001, 1002, 1003]),
    ("sequence of sequences", [301002], [1001, 1002, 1001, 1002]),
    ("replication inside a sequence", [301003], [1001, 1001]),
    ("a member replication cannot reach past its sequence", [301004, 1001],
     Fails(UNSUPPORTED.format(101001))),
    ("a member delayed replication cannot reach past its sequence", [301005, 1001],
     Fails(MISSING_FACTOR.format(101000))),
    ("a missing member sequence names itself", [301006], Fails(MISSING_SEQUENCE.format(301099))),
    ("empty sequence", [301007, 1001], [1001]),
    ("width set in a sequence holds after it", [301008, 1001, 1002],
     [999999, 1001, 999999, 1002]),
    ("width cancelled in a sequence", [301009, 1002], [999999, 1001, 1002]),
    ("a member replication count is an octet", [301010], [1001] * 44),
    ("a member 2-04 operand is an octet", [301011, 1002], [999999, 1001, 999999, 1002]),
    ("a member 2-04 operand of 256 cancels", [204001, 301012, 1002], [1001, 1002]),
    ("invalid member", [301013], Fails(INVALID.format(500000))),
    ("markers inside a nested sequence", [301014], [31021, 999999, 1001, 999999, 1002]),
    ("fixed replication of a sequence", [101003, 301001], [1001, 1002] * 3),
    ("delayed replication of a sequence", [101000, 31001, 301001], [31001, 1001, 1002]),
    ("delayed replication of a sequence in a sequence", [301023],
     Fails(MISSING_FACTOR.format(102000))),
    ("an element code is never looked up", [1234], [1234]),
    ("a sequence that contains itself", [301020], Fails(TOO_DEEP)),
    ("two sequences that contain each other", [301021], Fails(TOO_DEEP)),
    ("64 nested sequences", [340001], [1001]),
    ("65 nested sequences", [341001], Fails(TOO_DEEP)),
    ("64 nested sequences, the last empty", [342001], []),
    ("65 nested sequences, the last empty", [343001], Fails(TOO_DEEP)),
    ("63 sequences and a replication", [344001], [1001]),
    ("64 sequences and a replication", [345001], Fails(TOO_DEEP)),
    ("a sequence below 63 replications", nested_replications(63, [301001]), [1001, 1002]),
    ("a sequence below 64 replications", nested_replications(64, [301001]), Fails(TOO_DEEP)),
    ("a failure after a deep success", [340001, 301006], Fails(MISSING_SEQUENCE.format(301099))),
]


@pytest.fixture(scope="module")
def sequence_directory(tmp_path_factory):
    return write_table_directory(tmp_path_factory.mktemp("sequences"), {1001: "A"}, SEQUENCES)


@pytest.mark.parametrize("entry", ["method", "function"])
@pytest.mark.parametrize("descriptors, outcome", [case[1:] for case in SEQUENCE_CASES],
                         ids=[case[0] for case in SEQUENCE_CASES])
def test_expand_with_sequences(sequence_directory, entry, descriptors, outcome):
    if entry == "method":
        tables = TableSet.from_eccodes(sequence_directory)
        check(outcome, lambda: tables.expand(descriptors))
    else:
        check(outcome, lambda: expand_descriptors(sequence_directory, descriptors))


@pytest.mark.parametrize("descriptors, outcome", [case[1:] for case in SEQUENCE_CASES],
                         ids=[case[0] for case in SEQUENCE_CASES])
def test_reference_agrees_with_the_sequence_cases(descriptors, outcome):
    kind, result = reference_outcome(SEQUENCES, descriptors)
    assert (kind, result) == (("error", outcome) if isinstance(outcome, Fails) else ("ok", outcome))


# ---- State between calls --------------------------------------------------------------

def test_each_call_starts_without_an_associated_field(sequence_directory):
    tables = TableSet.from_eccodes(sequence_directory)
    assert tables.expand([301008]) == []
    assert tables.expand([1001]) == [1001]
    assert expand_descriptors(sequence_directory, [1001]) == [1001]


def test_each_call_starts_with_a_fresh_count():
    tables = TableSet()
    assert tables.expand(EXACT_BOUND) == []
    assert tables.expand(EXACT_BOUND) == []


# ---- Argument conversion of `descriptors` ---------------------------------------------

class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BrokenIndex:
    def __index__(self):
        raise RuntimeError("no index here")


class Color(enum.IntEnum):
    BLOCK = 1001


class Registered:
    """A sequence by registration only."""

    def __init__(self, *items):
        self._items = list(items)

    def __len__(self):
        return len(self._items)

    def __getitem__(self, index):
        return self._items[index]


collections.abc.Sequence.register(Registered)


class Unregistered:
    """The same protocol as Registered, but not a collections.abc.Sequence."""

    def __init__(self, *items):
        self._items = list(items)

    def __len__(self):
        return len(self._items)

    def __getitem__(self, index):
        return self._items[index]


class Derived(collections.abc.Sequence):
    def __init__(self, *items):
        self._items = list(items)

    def __len__(self):
        return len(self._items)

    def __getitem__(self, index):
        return self._items[index]


class ListSubclass(list):
    pass


class StrSubclass(str):
    pass


@pytest.fixture(params=["method", "function"])
def expand(request, tmp_path):
    if request.param == "method":
        return TableSet().expand
    directory = write_table_directory(tmp_path / "tables")
    return lambda descriptors: expand_descriptors(directory, descriptors)


@pytest.mark.parametrize("descriptors, expected", [
    ((102002, 1001, 1002), [1001, 1002, 1001, 1002]),
    (range(1001, 1004), [1001, 1002, 1003]),
    (Registered(101002, 1001), [1001, 1001]),
    (Derived(1001, 2001), [1001, 2001]),
    (ListSubclass([1001]), [1001]),
    (array.array("I", [1001, 1002]), [1001, 1002]),
    (b"\x01\x02", [1, 2]),
    ([Index(1001), Index(101002), 1002], [1001, 1002, 1002]),
    ([True, False], [1, 0]),
    ([Color.BLOCK], [1001]),
], ids=["tuple", "range", "registered", "derived", "list subclass", "array", "bytes", "index",
        "bool", "int enum"])
def test_descriptor_sequences_accepted(expand, descriptors, expected):
    result = expand(descriptors)
    assert result == expected
    assert all(type(code) is int for code in result)


def test_largest_code_is_converted(expand):
    with pytest.raises(ValueError) as caught:
        expand([Index(2**32 - 1)])
    assert str(caught.value) == INVALID.format(2**32 - 1)


@pytest.mark.parametrize("descriptors", ["abc", "", StrSubclass("1001")],
                         ids=["str", "empty str", "str subclass"])
def test_str_is_refused(expand, descriptors):
    with pytest.raises(TypeError) as caught:
        expand(descriptors)
    assert str(caught.value) == "argument 'descriptors': Can't extract `str` to `Vec`"


@pytest.mark.parametrize("descriptors", [
    {1001}, frozenset([1001]), {1001: 1}, {}.keys(), 1001, None, 1001.0, iter([1001]),
    (code for code in [1001]), Unregistered(1001),
], ids=["set", "frozenset", "dict", "dict keys", "int", "None", "float", "iterator",
        "generator", "unregistered"])
def test_non_sequences_are_refused(expand, descriptors):
    with pytest.raises(TypeError) as caught:
        expand(descriptors)
    assert str(caught.value).startswith("argument 'descriptors': ")


@pytest.mark.parametrize("item", [1001.0, "1001", None, b"1", [1001], 1j],
                         ids=["float", "str", "None", "bytes", "list", "complex"])
def test_non_integer_items_are_refused(expand, item):
    with pytest.raises(TypeError) as caught:
        expand([1001, item])
    assert str(caught.value).startswith("argument 'descriptors': ")


@pytest.mark.parametrize("item", [-1, 2**32, 2**64, 2**64 + 1, -(2**70), Index(-1), Index(2**32)],
                         ids=["-1", "2**32", "2**64", "2**64+1", "-2**70", "index -1",
                              "index 2**32"])
def test_out_of_range_items_overflow(expand, item):
    with pytest.raises(OverflowError) as caught:
        expand((1001, item))
    assert str(caught.value).startswith("argument 'descriptors': ")


def test_an_index_failure_propagates(expand):
    with pytest.raises(RuntimeError, match="no index here"):
        expand([BrokenIndex()])


def test_expand_takes_a_keyword():
    assert TableSet().expand(descriptors=[101002, 1001]) == [1001, 1001]


@pytest.mark.parametrize("args, kwargs", [
    ((), {}), (([1001], [1002]), {}), (([1001],), {"descriptors": [1001]}),
    ((), {"codes": [1001]}),
], ids=["none", "two", "twice", "unknown keyword"])
def test_expand_argument_count(args, kwargs):
    with pytest.raises(TypeError):
        TableSet().expand(*args, **kwargs)


# ---- expand_descriptors: table_dir and the order of failures --------------------------

@pytest.mark.parametrize("table_dir", [5, None, b"tables", Path("tables"), ["tables"]],
                         ids=["int", "None", "bytes", "path", "list"])
def test_table_dir_must_be_str(table_dir):
    with pytest.raises(TypeError) as caught:
        expand_descriptors(table_dir, [1001])
    assert str(caught.value).startswith("argument 'table_dir': ")


def test_table_dir_is_converted_before_descriptors():
    with pytest.raises(TypeError) as caught:
        expand_descriptors(Path("tables"), "abc")
    assert str(caught.value).startswith("argument 'table_dir': ")


def test_table_dir_with_a_null_character_names_the_argument():
    with pytest.raises((TypeError, ValueError)) as caught:
        expand_descriptors("tab\0les", [1001])
    assert str(caught.value).startswith("argument 'table_dir': ")


def test_descriptors_are_converted_before_the_directory_is_read(tmp_path):
    with pytest.raises(TypeError) as caught:
        expand_descriptors(str(tmp_path / "missing"), "abc")
    assert str(caught.value) == "argument 'descriptors': Can't extract `str` to `Vec`"
    with pytest.raises(OverflowError):
        expand_descriptors(str(tmp_path / "missing"), [-1])


@pytest.mark.parametrize("descriptors", [[1001], [400000], [301001], NESTED_REPLICATIONS],
                         ids=["valid", "invalid", "missing sequence", "too large"])
def test_a_missing_directory_fails_first(tmp_path, descriptors):
    with pytest.raises(ValueError) as caught:
        expand_descriptors(str(tmp_path / "missing"), descriptors)
    assert str(caught.value) == ERROR_PREFIX + no_such_file_text()


@pytest.mark.parametrize("descriptors", [[1001], [400000]], ids=["valid", "invalid"])
def test_a_directory_without_sequence_def_fails_first(tmp_path, descriptors):
    directory = write_table_directory(tmp_path / "tables", sequence_file=False)
    with pytest.raises(ValueError) as caught:
        expand_descriptors(directory, descriptors)
    assert str(caught.value) == "io error: " + no_such_file_text()


def test_a_malformed_sequence_def_fails_first(tmp_path):
    directory = tmp_path / "tables"
    write_table_directory(directory)
    (directory / "sequence.def").write_text('"30000x" = [ 001001 ]\n')
    with pytest.raises(ValueError) as caught:
        expand_descriptors(str(directory), [400000])
    assert str(caught.value) == (
        ERROR_PREFIX + 'bad descriptor code "30000x": invalid digit found in string')


def test_expand_descriptors_reads_the_directory_on_every_call(tmp_path):
    directory = tmp_path / "tables"
    write_table_directory(directory, sequences={301001: [1001]})
    assert expand_descriptors(str(directory), [301001]) == [1001]
    (directory / "sequence.def").write_text(sequence_line(301001, [1002, 1003]))
    assert expand_descriptors(str(directory), [301001]) == [1002, 1003]


def test_expand_descriptors_takes_keywords(tmp_path):
    directory = write_table_directory(tmp_path / "tables", sequences={301001: [1001, 1002]})
    assert expand_descriptors(descriptors=[301001], table_dir=directory) == [1001, 1002]


def test_expand_descriptors_needs_no_table_b_entry(tmp_path):
    directory = tmp_path / "tables"
    write_table_directory(directory, sequences={301001: [1001, 5001]})
    (directory / "element.table").write_text(element_row(5001))
    assert expand_descriptors(str(directory), [301001, 7001]) == [1001, 5001, 7001]


def test_expand_descriptors_stops_at_the_bound(tmp_path):
    directory = write_table_directory(tmp_path / "tables")
    with pytest.raises(ValueError) as caught:
        expand_descriptors(directory, NESTED_REPLICATIONS)
    assert str(caught.value) == TOO_LARGE
