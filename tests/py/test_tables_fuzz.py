"""Any bytes in any table file give a TableSet or a ValueError, never another
exception or a crash, and a loaded TableSet answers its queries."""

import os
import tempfile

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from _quorvel import TableSet

# Pieces that steer the readers into their interesting paths.
TOKENS = [b"|", b",", b'"', b'""', b"\n", b"\r", b"\r\n", b"#", b" ", b"\t", b"[", b"]",
          b"=", b"0", b"1", b"9", b"001001", b"300002", b"-", b"+", b"x", b"\xef\xbb\xbf",
          b"\xe3\x80\x80", b"\xc2\xa0", b"\xff", b"\xc3", b"\xed\xa0\x80", b"\x00",
          b"18446744073709551616", b"65536", b"0|a|b|c|d|0|0|1\n", b"a,b,c,d,e,f,g,h\n"]

content = st.one_of(
    st.binary(max_size=200),
    st.lists(st.sampled_from(TOKENS), max_size=40).map(b"".join),
)

ROW = b"001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"
FUZZ_SETTINGS = settings(max_examples=300, deadline=None,
                         suppress_health_check=[HealthCheck.too_slow])


def write(path, data):
    with open(path, "wb") as file:
        file.write(data)


def exercise(tables):
    assert tables.element_count >= 0 and tables.sequence_count >= 0
    assert repr(tables) == (
        f"TableSet(elements={tables.element_count}, sequences={tables.sequence_count})")
    for code in (0, 1, 1001, 300002, 2**32 - 1):
        element = tables.get_element(code)
        if element is not None:
            assert element.code == code
            repr(element)
        sequence = tables.get_sequence(code)
        if sequence is not None:
            assert sequence.code == code
            repr(sequence)
        for raw in (0, 1, 2**64 - 1):
            meaning = tables.get_meaning(code, raw)
            assert meaning is None or isinstance(meaning, str)


def load_eccodes(element, sequence, code_table):
    with tempfile.TemporaryDirectory() as directory:
        write(os.path.join(directory, "element.table"), element)
        write(os.path.join(directory, "sequence.def"), sequence)
        os.mkdir(os.path.join(directory, "codetables"))
        write(os.path.join(directory, "codetables", "1001.table"), code_table)
        return TableSet.from_eccodes(directory)


@FUZZ_SETTINGS
@given(data=content)
def test_any_element_table(data):
    try:
        tables = load_eccodes(data, b"", b"")
    except ValueError as error:
        assert str(error).startswith("csv/table parse error: ")
        return
    exercise(tables)


@FUZZ_SETTINGS
@given(data=content)
def test_any_sequence_def(data):
    try:
        tables = load_eccodes(ROW, data, b"")
    except ValueError as error:
        assert str(error).startswith(("csv/table parse error: ",
                                      "io error: stream did not contain valid UTF-8"))
        return
    exercise(tables)


@FUZZ_SETTINGS
@given(data=content)
def test_any_code_table(data):
    try:
        tables = load_eccodes(ROW, b"", data)
    except ValueError as error:
        assert str(error).startswith(("csv/table parse error: bad code table key ",
                                      "io error: stream did not contain valid UTF-8"))
        return
    exercise(tables)


@FUZZ_SETTINGS
@given(data=content, table_d=st.booleans())
def test_any_bufr4_csv_file(data, table_d):
    name = "BUFR_TableD_en_01.csv" if table_d else "BUFRCREX_TableB_en_01.csv"
    with tempfile.TemporaryDirectory() as directory:
        write(os.path.join(directory, name), data)
        try:
            tables = TableSet.from_bufr4_45(directory)
        except ValueError as error:
            assert str(error).startswith("csv/table parse error: ")
            return
    exercise(tables)
