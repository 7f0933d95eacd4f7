"""Memory stays flat: every function, method and attribute of the module,
successful calls and each kind of failure alike, called thousands of times.

A reference leaked to a Python object shows in tracemalloc's traced memory; a
C++ allocation that is never freed (a copied table, a message, an error
text) shows only in the resident size, so both are checked. Each scenario
runs a warm-up round first, so that caches, free lists and the allocators'
arenas have reached their size before the baseline is taken.

Under valgrind (scripts/valgrind.sh) memcheck's leak report takes the place
of the native checks, and the objects the collector tracks are counted in
place of tracemalloc's figures, see test_memory_stays_flat.
"""

from __future__ import annotations

import ctypes
import functools
import gc
import os
import pickle
import tracemalloc
import warnings
from dataclasses import dataclass
from typing import Callable, Iterable

import pytest

import _quorvel
from _quorvel import (Descriptor, TableSet, decode_values, decode_values_with_definitions,
                      decode_values_with_tables, expand_descriptors, parse_all_bytes,
                      parse_all_file, parse_bytes, parse_file)
from builder import BitWriter, build_message
from decode_support import Element, write_tables
from module_names import entry_points

# ---- Inputs ----------------------------------------------------------------------------

BLOCK = Element(1001, "WMO BLOCK NUMBER", 7)
STATION = Element(1002, "WMO STATION NUMBER", 10)
REGION = Element(1003, "WMO REGION NUMBER", 3, unit="CODE TABLE")
NAME = Element(1015, "STATION OR SITE NAME", 64, unit="CCITT IA5")
FACTOR = Element(31001, "DELAYED DESCRIPTOR REPLICATION FACTOR", 8)
TEMPERATURE = Element(12101, "TEMPERATURE/AIR TEMPERATURE", 16, 2, -27315, "K")
ELEMENTS = [BLOCK, STATION, REGION, NAME, FACTOR, TEMPERATURE]
SEQUENCES = {301001: [1001, 1002], 301002: [301001, 1003, 1015],
             303001: [101000, 31001, 12101]}
CODETABLES = {1003: {0: "ANTARCTICA", 1: "REGION I"}}

# One station with a name, a region that has a meaning, and a delayed
# replication of 20 temperatures: every kind of value and every field. It
# decodes to four station values, the factor and the temperatures.
TEMPERATURES = 20
UNCOMPRESSED_DATA = (BitWriter().write(3, 7).write(772, 10).write(1, 3).write_octets(b"STATION")
                     .write(0x20, 8).write(TEMPERATURES, 8))
for _k in range(TEMPERATURES):
    UNCOMPRESSED_DATA.write(27315 + _k, 16)
UNCOMPRESSED = build_message(descriptors=[301002, 303001], data=bytes(UNCOMPRESSED_DATA)).data

# Three subsets, compressed: a numeric column with increments, a text
# column, and a code-table column.
SUBSETS = 3
COMPRESSED_DATA = (BitWriter().write(3, 7).write(2, 6).write(0, 2).write(1, 2).write(2, 2)
                   .write_octets(b"STATION ").write(0, 6)
                   .write(0, 3).write(1, 6).write(0, 1).write(1, 1).write(1, 1))
COMPRESSED = build_message(descriptors=[1001, 1015, 1003], data=bytes(COMPRESSED_DATA),
                           number_of_subsets=SUBSETS, compressed=True).data

# Many subsets of a numeric column repeated: enough objects for the decoder
# to take whole mappings for them, which must be reused, not piled up.
LARGE_SUBSETS = 2000
LARGE_COLUMNS = 40
_LARGE_DATA = BitWriter().write(LARGE_COLUMNS, 8).write(0, 6)
for _c in range(LARGE_COLUMNS):
    _LARGE_DATA.write(27000, 16).write(4, 6)
    for _k in range(LARGE_SUBSETS):
        _LARGE_DATA.write(_k % 15, 4)
LARGE_COMPRESSED = build_message(descriptors=[303001], data=bytes(_LARGE_DATA),
                                 number_of_subsets=LARGE_SUBSETS, compressed=True).data

# A descriptor the tables do not hold: decoding fails after the header parsed.
UNKNOWN_ELEMENT = build_message(descriptors=[1099], data=b"\x00").data
BAD_TERMINATOR = build_message(descriptors=[1001], data=b"\x06", terminator=b"7776").data
NEWER_VERSION = (build_message(descriptors=[1001], data=b"\x06",
                               master_tables_version_number=45).data
                 + build_message(descriptors=[1099], data=b"\x00",
                                 master_tables_version_number=45).data)
TWO_MESSAGES = b"header" + UNCOMPRESSED + b"\r\n" + COMPRESSED + b"trailer"

B_HEADER = ("ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,"
            "BUFR_ReferenceValue,BUFR_DataWidth_Bits,CREX_Unit,CREX_Scale,"
            "CREX_DataWidth_Char,Note_en,noteIDs,Status\n")
D_HEADER = ("Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2,ElementName_en,"
            "ElementDescription_en,Note_en,noteIDs,Status\n")


@dataclass(frozen=True)
class Paths:
    table_dir: str
    bad_table_dir: str
    missing_dir: str
    definitions: str
    bufr4: str
    bad_bufr4: str
    message_file: str
    two_messages_file: str
    bad_message_file: str


@pytest.fixture(scope="module")
def paths(tmp_path_factory) -> Paths:
    root = tmp_path_factory.mktemp("leaks")
    table_dir = write_tables(root / "tables", ELEMENTS, SEQUENCES, CODETABLES)
    bad_table_dir = root / "bad-tables"
    bad_table_dir.mkdir()
    (bad_table_dir / "element.table").write_text("001001|a|long|N|Numeric|0|0|seven\n")
    (bad_table_dir / "sequence.def").write_text("")
    write_tables(root / "definitions" / "bufr" / "tables" / "0" / "wmo" / "37", ELEMENTS,
                 SEQUENCES, CODETABLES)
    bufr4 = root / "bufr4"
    bufr4.mkdir()
    (bufr4 / "BUFRCREX_TableB_en_01.csv").write_text(
        B_HEADER + '01,Identification,001001,"WMO block, number",Numeric,0,0,7,Numeric,0,2,,,'
        "Operational\n")
    (bufr4 / "BUFR_TableD_en_01.csv").write_text(
        D_HEADER + "01,Location,301001,(Station),,001001,Block,,,,Operational\n")
    bad_bufr4 = root / "bad-bufr4"
    bad_bufr4.mkdir()
    (bad_bufr4 / "BUFRCREX_TableB_en_01.csv").write_text(B_HEADER + "01,too,few\n")
    files = {}
    for name, content in [("one.bufr", UNCOMPRESSED), ("two.bufr", TWO_MESSAGES),
                          ("bad.bufr", BAD_TERMINATOR)]:
        (root / name).write_bytes(content)
        files[name] = str(root / name)
    return Paths(table_dir, str(bad_table_dir), str(root / "missing"), str(root / "definitions"),
                 str(bufr4), str(bad_bufr4), files["one.bufr"], files["two.bufr"],
                 files["bad.bufr"])


# ---- Measuring -------------------------------------------------------------------------

PAGE_SIZE = os.sysconf("SC_PAGE_SIZE") if hasattr(os, "sysconf") else 4096
# Under valgrind memcheck, whose own leak report then stands in for the
# native checks: its allocator holds freed blocks back and the C heap
# figures are not glibc's. The calls are also fewer, as each is slow there.
# Valgrind starts the program with its preload libraries (vgpreload_core and
# the tool's) in LD_PRELOAD; the children it does not trace lose them again.
UNDER_VALGRIND = "vgpreload" in os.environ.get("LD_PRELOAD", "")
# A leak of one small object per call over the calls of a scenario is far
# above these; the allocators' own noise after a warm-up stays below them.
TRACED_TOLERANCE = 64 * 1024
C_HEAP_TOLERANCE = 64 * 1024
RSS_TOLERANCE = 1024 * 1024


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def _glibc():
    try:
        libc = ctypes.CDLL(None)
        return libc.malloc_trim, libc.mallinfo2
    except (AttributeError, OSError):
        return None, None


_malloc_trim, _mallinfo2 = _glibc()
if _mallinfo2 is not None:
    _mallinfo2.restype = _MallInfo2
    _malloc_trim.argtypes = [ctypes.c_size_t]


def c_heap_in_use() -> int | None:
    """Bytes the C heap has handed out and not had back (glibc only): where
    a native leak shows whatever the heap had free beforehand."""
    if _mallinfo2 is None:
        return None
    info = _mallinfo2()
    return info.uordblks + info.hblkhd


def trim_c_heap() -> None:
    """Hands free C heap memory back to the system, so that a leak must grow
    the resident size instead of filling memory freed by earlier tests."""
    if _malloc_trim is not None:
        _malloc_trim(0)


def resident_bytes() -> int | None:
    try:
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * PAGE_SIZE
    except OSError:
        return None


def expect_raises(error: type[BaseException], call: Callable[[], object]) -> None:
    try:
        call()
    except error:
        return
    raise AssertionError(f"{call} did not raise {error.__name__}")


def read_all_attributes(obj: object) -> None:
    """Every getter of the object's class, its repr and str, and equality."""
    for name, attribute in vars(type(obj)).items():
        if not name.startswith("_") and type(attribute).__name__ == "getset_descriptor":
            getattr(obj, name)
    repr(obj)
    str(obj)
    _ = obj == obj
    _ = obj != 0


@dataclass
class Scenario:
    name: str
    # Dotted names of the module's functions, classes, methods and
    # attributes that the scenario exercises.
    covers: frozenset
    run: Callable[[Paths], None]
    calls: int


SCENARIOS: list[Scenario] = []


def scenario(calls: int, covers: Iterable[str]):
    def register(run: Callable[[Paths], None]) -> Callable[[Paths], None]:
        SCENARIOS.append(Scenario(run.__name__, frozenset(covers), run, calls))
        return run
    return register


# ---- The scenarios ---------------------------------------------------------------------

@functools.lru_cache(maxsize=None)
def loaded_tables(table_dir: str) -> TableSet:
    return TableSet.from_eccodes(table_dir)


MESSAGE_ATTRIBUTES = [f"BufrMessage.{name}" for name in dir(_quorvel.BufrMessage)
                      if not name.startswith("_")]


@scenario(20000, ["parse_bytes", "BufrMessage", *MESSAGE_ATTRIBUTES])
def parse_bytes_and_read_fields(paths):
    read_all_attributes(parse_bytes(UNCOMPRESSED))


@scenario(20000, ["parse_bytes"])
def parse_bytes_failures(paths):
    expect_raises(ValueError, lambda: parse_bytes(BAD_TERMINATOR))
    expect_raises(ValueError, lambda: parse_bytes(b"no marker here"))
    expect_raises(TypeError, lambda: parse_bytes("text"))
    expect_raises(TypeError, lambda: parse_bytes())


@scenario(10000, ["parse_all_bytes"])
def parse_all_bytes_calls(paths):
    assert len(parse_all_bytes(TWO_MESSAGES)) == 2
    expect_raises(ValueError, lambda: parse_all_bytes(TWO_MESSAGES + BAD_TERMINATOR))
    expect_raises(TypeError, lambda: parse_all_bytes(None))


@scenario(10000, ["scan_messages", "ASSOCIATED_FIELD_CODE", "OPERATOR_NAME",
                  "INSERTED_TEXT_NAME", "UNKNOWN_ELEMENT_NAME", "BUFR_MESSAGE_FIELDS"])
def scan_messages_calls(paths):
    assert len(_quorvel.scan_messages(TWO_MESSAGES)[0]) == 2
    assert _quorvel.scan_messages(TWO_MESSAGES + b"BUFR\0")[1] is not None
    expect_raises(TypeError, lambda: _quorvel.scan_messages(None))
    # The constants are made once, at import; reading them makes nothing.
    assert (_quorvel.ASSOCIATED_FIELD_CODE, _quorvel.OPERATOR_NAME, _quorvel.INSERTED_TEXT_NAME,
            _quorvel.UNKNOWN_ELEMENT_NAME) != (0, "", "", "")
    assert len(_quorvel.BUFR_MESSAGE_FIELDS) == 28


@scenario(5000, ["parse_file", "parse_all_file"])
def parse_files(paths):
    parse_file(paths.message_file)
    parse_all_file(paths.two_messages_file)
    expect_raises(ValueError, lambda: parse_file(paths.bad_message_file))
    expect_raises(ValueError, lambda: parse_all_file(paths.bad_message_file))
    expect_raises(OSError, lambda: parse_file(paths.missing_dir))
    expect_raises(OSError, lambda: parse_all_file(paths.missing_dir))
    expect_raises(TypeError, lambda: parse_file(42))


@scenario(20000, ["Descriptor", "Descriptor.from_fxy", "Descriptor.f", "Descriptor.x",
                  "Descriptor.y", "Descriptor.fxy"])
def descriptors(paths):
    read_all_attributes(Descriptor(3, 1, 11))
    read_all_attributes(Descriptor.from_fxy(301011))
    read_all_attributes(Descriptor(f=0, x=12, y=101))
    hash(Descriptor(0, 1, 1))
    expect_raises(OverflowError, lambda: Descriptor(256, 0, 0))
    expect_raises(OverflowError, lambda: Descriptor.from_fxy(-1))
    expect_raises(TypeError, lambda: Descriptor("0", 1, 1))


@scenario(3000, ["TableSet", "TableSet.from_eccodes", "TableSet.element_count",
                 "TableSet.sequence_count"])
def load_eccodes_tables(paths):
    tables = TableSet.from_eccodes(paths.table_dir)
    assert tables.element_count == len(ELEMENTS)
    assert tables.sequence_count == len(SEQUENCES)
    read_all_attributes(TableSet())
    expect_raises(ValueError, lambda: TableSet.from_eccodes(paths.bad_table_dir))
    expect_raises(ValueError, lambda: TableSet.from_eccodes(paths.missing_dir))
    expect_raises(TypeError, lambda: TableSet.from_eccodes(None))


@scenario(3000, ["TableSet.from_bufr4_45", "TableSet.from_bufr4_csv"])
def load_bufr4_tables(paths):
    assert TableSet.from_bufr4_45(paths.bufr4).element_count == 1
    expect_raises(ValueError, lambda: TableSet.from_bufr4_45(paths.bad_bufr4))
    expect_raises(ValueError, lambda: TableSet.from_bufr4_45(paths.missing_dir))
    assert TableSet.from_bufr4_csv(paths.bufr4).element_count == 1
    expect_raises(ValueError, lambda: TableSet.from_bufr4_csv(paths.bad_bufr4))


@scenario(2000, ["TableSet.from_definitions"])
def load_definitions_tables(paths):
    message = parse_bytes(UNCOMPRESSED)
    assert TableSet.from_definitions(paths.definitions, message).element_count == len(ELEMENTS)
    expect_raises(ValueError, lambda: TableSet.from_definitions(paths.missing_dir, message))
    expect_raises(TypeError, lambda: TableSet.from_definitions(paths.definitions, UNCOMPRESSED))


ELEMENT_ATTRIBUTES = [f"ElementDefinition.{name}" for name in dir(_quorvel.ElementDefinition)
                      if not name.startswith("_")]
SEQUENCE_ATTRIBUTES = [f"SequenceDefinition.{name}" for name in dir(_quorvel.SequenceDefinition)
                       if not name.startswith("_")]


@scenario(20000, ["TableSet.get_element", "TableSet.get_sequence", "TableSet.get_meaning",
                  "ElementDefinition", "SequenceDefinition", *ELEMENT_ATTRIBUTES,
                  *SEQUENCE_ATTRIBUTES])
def table_lookups(paths):
    table_set = loaded_tables(paths.table_dir)
    read_all_attributes(table_set.get_element(1015))
    read_all_attributes(table_set.get_sequence(301002))
    assert table_set.get_meaning(1003, 1) == "REGION I"
    assert table_set.get_element(1099) is None
    assert table_set.get_sequence(309999) is None
    assert table_set.get_meaning(1003, 5) is None
    expect_raises(OverflowError, lambda: table_set.get_element(-1))
    expect_raises(TypeError, lambda: table_set.get_meaning(1003, "1"))


@scenario(10000, ["TableSet.expand"])
def table_set_expand(paths):
    table_set = loaded_tables(paths.table_dir)
    assert len(table_set.expand([301002, 303001, 1001])) > 3
    table_set.expand((301001, 1002))
    expect_raises(ValueError, lambda: table_set.expand([309999]))
    expect_raises(OverflowError, lambda: table_set.expand([1 << 40]))
    expect_raises(TypeError, lambda: table_set.expand(301001))


@scenario(3000, ["expand_descriptors"])
def expand_descriptors_calls(paths):
    assert len(expand_descriptors(paths.table_dir, [301002, 1001])) == 5
    expect_raises(ValueError, lambda: expand_descriptors(paths.table_dir, [309999]))
    expect_raises(ValueError, lambda: expand_descriptors(paths.missing_dir, [1001]))
    expect_raises(TypeError, lambda: expand_descriptors(paths.table_dir, ["1001"]))


DECODED_ATTRIBUTES = [f"DecodedValue.{name}" for name in dir(_quorvel.DecodedValue)
                      if not name.startswith("_")]


@scenario(3000, ["decode_values_with_tables", "DecodedValue", *DECODED_ATTRIBUTES])
def decode_with_tables_and_read_values(paths):
    table_set = loaded_tables(paths.table_dir)
    values = decode_values_with_tables(UNCOMPRESSED, table_set)
    assert len(values) == 4 + 1 + TEMPERATURES
    for value in values:
        read_all_attributes(value)
    values = decode_values_with_tables(COMPRESSED, table_set)
    assert len(values) == 3 * SUBSETS
    for value in values:
        read_all_attributes(value)


@scenario(200, ["decode_values_with_tables"])
def decode_large_compressed(paths):
    values = decode_values_with_tables(LARGE_COMPRESSED, loaded_tables(paths.table_dir))
    assert len(values) == LARGE_SUBSETS * (LARGE_COLUMNS + 1)
    # One value kept past its list holds its region until it goes.
    kept = values[LARGE_SUBSETS // 2 * (LARGE_COLUMNS + 1) + 1]
    del values
    assert kept.raw_value == float(27000 + (LARGE_SUBSETS // 2) % 15 - 27315) / 100


@scenario(10000, ["decode_values_with_tables"])
def decode_with_tables_failures(paths):
    table_set = loaded_tables(paths.table_dir)
    expect_raises(ValueError, lambda: decode_values_with_tables(UNKNOWN_ELEMENT, table_set))
    expect_raises(ValueError, lambda: decode_values_with_tables(BAD_TERMINATOR, table_set))
    # The data ends inside the replicated temperatures.
    expect_raises(ValueError, lambda: decode_values_with_tables(
        build_message(descriptors=[303001], data=b"\x05\x01").data, table_set))
    expect_raises(TypeError, lambda: decode_values_with_tables(UNCOMPRESSED, paths.table_dir))


@scenario(2000, ["decode_values", "decode_values_with_definitions"])
def decode_loading_tables(paths):
    assert len(decode_values(UNCOMPRESSED, paths.table_dir)) == 4 + 1 + TEMPERATURES
    assert len(decode_values_with_definitions(COMPRESSED, paths.definitions)) == 3 * SUBSETS
    expect_raises(ValueError, lambda: decode_values(UNKNOWN_ELEMENT, paths.table_dir))
    expect_raises(ValueError, lambda: decode_values(UNCOMPRESSED, paths.bad_table_dir))
    expect_raises(ValueError, lambda: decode_values_with_definitions(COMPRESSED,
                                                                     paths.missing_dir))
    expect_raises(TypeError, lambda: decode_values(UNCOMPRESSED, 3))


READER_MEMBERS = [f"{cls.__name__}.{name}" for cls in (_quorvel.Message, _quorvel.MessageError)
                  for name in dir(cls) if not name.startswith("_")
                  and name not in dir(ValueError)]


@scenario(3000, ["next_messages", "Message", "MessageError", *READER_MEMBERS])
def read_messages_natively(paths):
    for final in (True, False):
        messages, _, problem = _quorvel.next_messages(
            bytearray(TWO_MESSAGES + BAD_TERMINATOR + UNCOMPRESSED[:40]), 0, final, 0, 0, "f",
            "d")
        assert len(messages) == 2 and problem[0] == "message"
        for message in messages:
            read_all_attributes(message)
            bytes(message.data)
            pickle.loads(pickle.dumps(message))
    *_, problem = _quorvel.next_messages(UNCOMPRESSED[:40], 0, False, 0, 0, None, None)
    assert problem[0] == "more"
    *_, problem = _quorvel.next_messages(UNCOMPRESSED[:40], 0, True, 0, 0, None, None)
    assert problem[0] == "truncated"
    expect_raises(ValueError, lambda: _quorvel.next_messages(b"", 1, True, 0, 0, None, None))
    expect_raises(TypeError, lambda: _quorvel.next_messages("", 0, True, 0, 0, None, None))
    expect_raises(_quorvel.MessageError,
                  lambda: _quorvel._restore_message(BAD_TERMINATOR, 0, 0, None, None))
    error = _quorvel.MessageError("f", 1, 2, "bad", 1001, 3, 0)
    read_all_attributes(error)
    pickle.loads(pickle.dumps(error))
    expect_raises(TypeError, lambda: _quorvel.MessageError("f", 1, 2, "bad", line=3))


DECODED_MEMBERS = [f"DecodedMessage.{name}" for name in dir(_quorvel.DecodedMessage)
                   if not name.startswith("_")]


@scenario(2000, ["DecodedMessage", "TableVersionWarning", *DECODED_MEMBERS])
def decode_read_messages(paths):
    messages, _, _ = _quorvel.next_messages(TWO_MESSAGES, 0, True, 0, 0, "f", paths.definitions)
    decoded = messages[1].decode()
    read_all_attributes(decoded)
    assert len(decoded) == 3 * SUBSETS and len(decoded.subsets) == SUBSETS
    with_tables = messages[0].decode(tables=loaded_tables(paths.table_dir))
    assert sum(map(len, with_tables.subsets)) == len(with_tables)
    pickle.loads(pickle.dumps(with_tables.values))
    unknown, _, _ = _quorvel.next_messages(UNKNOWN_ELEMENT, 0, True, 0, 0, None, None)
    expect_raises(_quorvel.MessageError,
                  lambda: unknown[0].decode(tables=loaded_tables(paths.table_dir)))
    expect_raises(TypeError, lambda: messages[0].decode(tables=paths.table_dir))
    # A master version no root holds: the nearest one, with a warning once;
    # a descriptor missing then names the directories tried.
    newer, _, _ = _quorvel.next_messages(NEWER_VERSION, 0, True, 0, 0, None,
                                         f"{paths.missing_dir}:{paths.definitions}")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", _quorvel.TableVersionWarning)
        assert len(newer[0].decode()) == 1
        expect_raises(_quorvel.MessageError, newer[1].decode)


# ---- Tests -----------------------------------------------------------------------------

def test_every_entry_point_is_exercised():
    covered = set().union(*(s.covers for s in SCENARIOS))
    assert entry_points() - covered == set()
    assert covered - entry_points() == set()


def tracked_objects() -> int:
    gc.collect()
    return len(gc.get_objects())


def check_under_valgrind(case: Scenario, paths: Paths) -> None:
    """The Python side of the check when memcheck watches the C heap.

    tracemalloc is left off: the one of CPython 3.11 never frees the
    traceback records it interns, so memcheck would report those as
    definitely lost whatever the module does, and with the few calls
    affordable here a leak of one small object per call would stay inside
    the traced tolerance anyway. A reference leaked to an object the
    collector tracks (a list, a tuple, a dict) keeps it alive, and the
    collector's own list still points to it, so it shows in the count of
    tracked objects; one leaked to an untracked object (an int, a str,
    bytes, and the module's own messages, values and tables) leaves a block
    that nothing points to, which memcheck reports as definitely lost.
    """
    calls = max(case.calls // 100, 8)
    for _ in range(calls // 2):
        case.run(paths)
    before = tracked_objects()
    for _ in range(calls):
        case.run(paths)
    growth = tracked_objects() - before
    assert growth < calls // 4, (
        f"{calls} rounds of {case.name} left {growth} more objects alive")


@pytest.mark.parametrize("case", SCENARIOS, ids=lambda s: s.name)
def test_memory_stays_flat(case: Scenario, paths: Paths):
    if UNDER_VALGRIND:
        check_under_valgrind(case, paths)
        return
    calls = case.calls
    # The first round warms caches and arenas; it must also succeed.
    for _ in range(calls // 4):
        case.run(paths)
    gc.collect()
    started = not tracemalloc.is_tracing()
    if started:
        tracemalloc.start()
    try:
        # A round under tracing, so tracemalloc's own tables have grown too.
        for _ in range(calls // 8):
            case.run(paths)
        gc.collect()
        trim_c_heap()
        traced_before = tracemalloc.get_traced_memory()[0]
        c_heap_before = c_heap_in_use()
        resident_before = resident_bytes()
        for _ in range(calls):
            case.run(paths)
        gc.collect()
        # Free heap memory the allocator kept is not a leak: trim on both sides.
        trim_c_heap()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced_before
        c_heap_after = c_heap_in_use()
        resident_after = resident_bytes()
    finally:
        if started:
            tracemalloc.stop()
    assert traced_growth < TRACED_TOLERANCE, (
        f"{calls} rounds of {case.name} kept {traced_growth} bytes of Python memory")
    if c_heap_before is not None and c_heap_after is not None:
        c_heap_growth = c_heap_after - c_heap_before
        assert c_heap_growth < C_HEAP_TOLERANCE, (
            f"{calls} rounds of {case.name} kept {c_heap_growth} bytes of C heap memory")
    if resident_before is not None and resident_after is not None:
        resident_growth = resident_after - resident_before
        assert resident_growth < RSS_TOLERANCE, (
            f"{calls} rounds of {case.name} grew the resident size by {resident_growth} bytes")
