"""The three decode entry points: which message they decode, where their
tables come from, which failure wins, argument conversion, and that any
section-4 data gives values or ValueError."""

from __future__ import annotations

import errno
import os
import pathlib

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from _quorvel import (DecodedValue, TableSet, decode_values, decode_values_with_definitions,
                      decode_values_with_tables)
from builder import build_message
from decode_support import (BLOCK, ELEMENTS, ERROR_PREFIX, REGION, TEMPERATURE, Element,
                            Value, bits, marker, message, numeric, observe, standard_tables,
                            table_directory, text, write_tables)

DEBIAN_ROOT = pathlib.Path("/usr/share/eccodes/definitions")
DATA = message([1001, 12101], bits((5, 7), (29815, 16)))
EXPECTED = [numeric(BLOCK, 5), numeric(TEMPERATURE, 29815)]
BAD_TERMINATOR = build_message(descriptors=[1001], data=bits((6, 7)), terminator=b"7776").data


@pytest.fixture(params=["directory", "tables", "definitions"])
def decode_any(request, tmp_path):
    if request.param == "directory":
        return lambda data: decode_values(data, table_directory())
    if request.param == "tables":
        return lambda data: decode_values_with_tables(data, standard_tables())
    root = tmp_path / "root"
    write_tables(root / "bufr" / "tables" / "0" / "wmo" / "37", ELEMENTS, {},
                 {1003: {0: "ANTARCTICA", 1: "REGION I", 7: "MISSING VALUE"}})
    return lambda data: decode_values_with_definitions(data, str(root))


def failure(call, *args):
    with pytest.raises(ValueError) as caught:
        call(*args)
    return str(caught.value)


# ---- Which message is decoded ------------------------------------------------------

def test_a_single_message(decode_any):
    assert observe(decode_any(DATA)) == EXPECTED


def test_only_the_first_message_is_decoded(decode_any):
    second = message([1001], bits((9, 7)))
    assert observe(decode_any(b"junk" + DATA + b"between" + second + b"after")) == EXPECTED


def test_a_later_message_that_fails_to_parse_is_ignored(decode_any):
    assert observe(decode_any(DATA + BAD_TERMINATOR)) == EXPECTED


@pytest.mark.parametrize("tail, error", [
    # The scan covers the whole buffer before the first message is used.
    (b"BUFR\x00\x01\x00\x04", "section 0 at offset {} is truncated"),
    (b"BUFR\x00\x00\x20", "message is too short to be BUFR"),
])
def test_a_scan_failure_after_the_first_message_wins(decode_any, tail, error):
    assert failure(decode_any, DATA + b"xx" + tail) == error.format(len(DATA) + 2)


@pytest.mark.parametrize("data", [b"", b"BUF", b"bufr" * 10, b"\0" * 100])
def test_no_marker(decode_any, data):
    assert failure(decode_any, data) == "missing BUFR marker"


def test_a_message_error_comes_before_any_table_error(tmp_path):
    missing = str(tmp_path / "nowhere")
    assert failure(decode_values, BAD_TERMINATOR, missing) == "section 5 terminator is not 7777"
    assert failure(decode_values_with_definitions, BAD_TERMINATOR, missing) == (
        "section 5 terminator is not 7777")
    assert failure(decode_values, b"", missing) == "missing BUFR marker"


def test_table_errors_are_reported(tmp_path):
    missing = tmp_path / "nowhere"
    os_text = f"{os.strerror(errno.ENOENT)} (os error {errno.ENOENT})"
    assert failure(decode_values, DATA, str(missing)) == ERROR_PREFIX + os_text
    assert failure(decode_values_with_definitions, DATA, str(missing)) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: "
        + str(missing / "bufr" / "tables" / "0" / "wmo" / "37"))


@pytest.mark.parametrize("compressed", [False, True])
def test_no_subsets_give_an_empty_list(decode_any, compressed):
    data = build_message(descriptors=[1001], data=bits((5, 7), (0, 6)), number_of_subsets=0,
                         compressed=compressed).data
    assert decode_any(data) == []


def test_the_compression_flag_chooses_the_layout(decode_any):
    fields = bits((5, 7), (2, 6), (0, 2), (1, 2))
    plain = build_message(descriptors=[1001], data=fields, number_of_subsets=2).data
    packed = build_message(descriptors=[1001], data=fields, number_of_subsets=2,
                           compressed=True).data
    assert observe(decode_any(plain)) == [numeric(BLOCK, 5), numeric(BLOCK, 0b0000100)]
    assert observe(decode_any(packed)) == [numeric(BLOCK, 5), numeric(BLOCK, 6)]


def test_only_the_data_area_is_read(decode_any):
    # Section 4 holds 7 bits of data; the terminator after it is not data.
    data = message([1001, 1001], bits((5, 7)))
    assert failure(decode_any, data) == (
        ERROR_PREFIX + "not enough bits while reading section 4 at bit 7 for width 7 "
        "(8 bits available)")


# ---- Tables ------------------------------------------------------------------------

def test_directory_tables_are_read_on_every_call(tmp_path):
    directory = tmp_path / "tables"
    write_tables(directory, [BLOCK])
    assert observe(decode_values(message([1001], bits((5, 7))), str(directory))) == [
        numeric(BLOCK, 5)]
    renamed = Element(1001, "RENAMED", 3)
    write_tables(directory, [renamed])
    assert observe(decode_values(message([1001], bits((5, 3))), str(directory))) == [
        Value(1001, "RENAMED", 5, 5.0)]


def test_definitions_root_merges_local_tables(tmp_path):
    root = tmp_path / "root"
    write_tables(root / "bufr" / "tables" / "0" / "wmo" / "30", [BLOCK, REGION], {},
                 {1003: {1: "MASTER ONE"}})
    local = root / "bufr" / "tables" / "0" / "local" / "2" / "98" / "5"
    local.mkdir(parents=True)
    (local / "element.table").write_text(
        "001001|b|long|LOCAL BLOCK|Numeric|1|10|4|x|0|0\n")
    data = build_message(descriptors=[1001, 1003], data=bits((5, 4), (1, 3)),
                         master_tables_version_number=30, local_tables_version_number=2,
                         originating_centre=98, originating_subcentre=5).data
    assert observe(decode_values_with_definitions(data, str(root))) == [
        Value(1001, "LOCAL BLOCK", 5, 1.5), Value(1003, REGION.name, 1, 1.0, None, "MASTER ONE")]


def eccodes_element(version, code):
    """One row of the installed ecCodes element table, read independently."""
    path = DEBIAN_ROOT / "bufr" / "tables" / "0" / "wmo" / str(version) / "element.table"
    if not path.exists():
        pytest.skip(f"ecCodes definitions not installed: {path}")
    for line in path.read_text(encoding="utf-8").splitlines():
        fields = line.split("|")
        if not line.startswith("#") and int(fields[0]) == code:
            return Element(code, fields[3], int(fields[7]), int(fields[5]), int(fields[6]),
                           fields[4])
    pytest.fail(f"{code:06} is not in {path}")


def eccodes_meaning(version, code, raw):
    path = DEBIAN_ROOT / "bufr" / "tables" / "0" / "wmo" / str(version) / "codetables"
    for line in (path / f"{code}.table").read_text(encoding="utf-8").splitlines():
        words = line.split()
        if len(words) >= 3 and words[0] == str(raw):
            return " ".join(words[2:])
    return None


def test_installed_ecCodes_definitions():
    region, temperature, name = (eccodes_element(37, code) for code in (1003, 12101, 1015))
    assert name.is_text
    data = build_message(
        descriptors=[1003, 12101, 1015, 222000],
        data=bits((1, region.width), (29815, temperature.width),
                  b"HELLO".ljust(name.width // 8))).data
    assert observe(decode_values_with_definitions(data, str(DEBIAN_ROOT))) == [
        numeric(region, 1, meaning=eccodes_meaning(37, 1003, 1)),
        numeric(temperature, 29815),
        text(name, "HELLO", 1000.0 + name.width // 8),
        marker(222000)]


# ---- Arguments ---------------------------------------------------------------------

class Bytes(bytes):
    pass


class Text(str):
    pass


def test_subclasses_are_accepted():
    directory = table_directory()
    assert observe(decode_values(Bytes(DATA), Text(directory))) == EXPECTED
    assert observe(decode_values_with_tables(Bytes(DATA), standard_tables())) == EXPECTED


def test_keywords():
    assert observe(decode_values(data=DATA, table_dir=table_directory())) == EXPECTED
    assert observe(decode_values_with_tables(tables=standard_tables(), data=DATA)) == EXPECTED
    with pytest.raises(ValueError):
        decode_values_with_definitions(data=DATA, definitions_root="/nonexistent-root")


@pytest.mark.parametrize("call, args, argument", [
    (decode_values, (bytearray(DATA), "x"), "data"),
    (decode_values, (memoryview(DATA), "x"), "data"),
    (decode_values, (DATA.decode("latin-1"), "x"), "data"),
    (decode_values, (DATA, pathlib.Path("x")), "table_dir"),
    (decode_values, (DATA, b"x"), "table_dir"),
    (decode_values, (DATA, 3), "table_dir"),
    (decode_values_with_tables, (bytearray(DATA), TableSet()), "data"),
    (decode_values_with_tables, (DATA, "tables"), "tables"),
    (decode_values_with_tables, (DATA, None), "tables"),
    (decode_values_with_definitions, (DATA, pathlib.Path("x")), "definitions_root"),
    (decode_values_with_definitions, (None, "x"), "data"),
])
def test_wrong_argument_types(call, args, argument):
    with pytest.raises(TypeError, match=f"^argument '{argument}': "):
        call(*args)


def test_data_is_converted_before_the_tables():
    with pytest.raises(TypeError, match="^argument 'data': "):
        decode_values(bytearray(DATA), 3)


@pytest.mark.parametrize("call, args", [
    (decode_values, (DATA,)),
    (decode_values_with_tables, (DATA, TableSet(), 1)),
    (decode_values_with_definitions, ()),
])
def test_wrong_argument_counts(call, args):
    with pytest.raises(TypeError):
        call(*args)


# ---- Any data ----------------------------------------------------------------------

FUZZ_DESCRIPTORS = [
    [1001, 12101, 1015, 1003],
    [204003, 201130, 1001, 201000, 204000, 206009, 1002, 207002, 12101, 207000, 208002, 1015],
    [1001, 1002, 236000, 101004, 31031, 223000, 223255, 223255, 225255, 237000, 232255, 235000],
    [101000, 31000, 1001, 103000, 31001, 101000, 31000, 1015, 12101],
    [1015, 236000, 31031, 31031, 224255, 237001, 222000, 262000],
]


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(codes=st.sampled_from(FUZZ_DESCRIPTORS), data=st.binary(max_size=80),
       subsets=st.integers(0, 4), compressed=st.booleans())
def test_any_data_gives_values_or_value_error(codes, data, subsets, compressed):
    built = build_message(descriptors=codes, data=data, number_of_subsets=subsets,
                          compressed=compressed).data
    try:
        values = decode_values_with_tables(built, standard_tables())
    except ValueError:
        return
    assert type(values) is list
    assert all(type(v) is DecodedValue for v in values)
    # Every list yields at least one value per subset.
    assert len(values) >= subsets
    if not subsets:
        assert values == []
