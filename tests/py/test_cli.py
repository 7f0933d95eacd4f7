"""The quorvel command line on messages and tables built here: what `ls` and
`dump` print, their JSON, the error lines and exit status, several files in
one run, the progress bar.

Expected lines are worked out from the fields the messages are built with.
"""

from __future__ import annotations

import io
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import _quorvel
from builder import BitWriter, build_message
from decode_support import (BLOCK, bits, LONG_FACTOR, NAME, PRESENT, PRESSURE, REGION, TEMPERATURE,
                            Element, write_tables)
from quorvel import cli

ROOT = Path(__file__).resolve().parents[2]
HEADING = b"ISMD01 ZZZZ 011200\r\r\n"

SIGNIFICANCE = Element(31021, "ASSOCIATED FIELD SIGNIFICANCE", 6, unit="CODE TABLE")
LOCAL = Element(48001, "LOCAL ELEMENT", 8, unit="m")
ELEMENTS = [BLOCK, NAME, TEMPERATURE, PRESSURE, REGION, PRESENT, SIGNIFICANCE]
CODETABLES = {1003: {1: "REGION I"}, 31021: {1: "1-BIT QUALITY FLAG"}}
UNITS = {element.code: element.unit for element in ELEMENTS + [LOCAL]}


def run_cli(*args, cwd=ROOT):
    return subprocess.run(
        [sys.executable, "-m", "quorvel", *map(str, args)],
        capture_output=True, text=True, timeout=120, cwd=cwd,
    )


def block_message(block: int, **fields) -> bytes:
    """A message holding one WMO block number."""
    return build_message(descriptors=[1001], data=bytes(BitWriter().write(block, 7)), **fields).data


@pytest.fixture
def tables(tmp_path) -> str:
    return write_tables(tmp_path / "tables", ELEMENTS, {}, CODETABLES)


# ---- ls ---------------------------------------------------------------------------

SATELLITE = dict(
    originating_centre=98, originating_subcentre=70, data_category=3,
    international_data_subcategory=3, local_data_subcategory=55,
    master_tables_version_number=13, local_tables_version_number=1,
    typical_year=2012, typical_month=11, typical_day=2,
    typical_hour=0, typical_minute=1, typical_second=5,
    number_of_subsets=128, compressed=True,
    descriptors=[1001, 1002, 1003, 1015, 12101, 10004, 301011, 222000],
)
SATELLITE_TOKENS = [
    "centre=98/70", "category=3/3/55", "master=13", "local=1", "2012-11-02", "00:01:05",
    "subsets=128", "compressed", "001001", "001002", "001003", "001015", "012101", "010004",
    "...", "(+2)",
]
# Its data holds a marker that is no message: reading resumes after each message.
SYNOP = dict(descriptors=[307080], typical_month=3, typical_day=9, typical_hour=18,
             data=b"..BUFR\x00\x00\x08\x04..")
SYNOP_TOKENS = [
    "centre=0/0", "category=0/0/0", "master=37", "local=0", "2024-03-09", "18:00:00",
    "subsets=1", "uncompressed", "307080",
]


@pytest.fixture
def files(tmp_path):
    """Files for `ls`, with the tokens expected on each message's line."""
    satellite = build_message(**SATELLITE).data
    synop = build_message(**SYNOP).data
    two = tmp_path / "two.bufr"
    two.write_bytes(HEADING + satellite + b"\x03\x01" + synop)
    one = tmp_path / "one.bufr"
    one.write_bytes(synop)
    return {
        "two": (str(two), [SATELLITE_TOKENS, SYNOP_TOKENS],
                [len(HEADING), len(HEADING) + len(satellite) + 2]),
        "one": (str(one), [SYNOP_TOKENS], [0]),
    }


def listing(path, tokens):
    return [[f"{path}:{n}", *line] for n, line in enumerate(tokens, start=1)]


def test_ls_shows_the_header_of_each_message(files):
    result = run_cli("ls", files["two"][0], files["one"][0])
    assert (result.returncode, result.stderr) == (0, "")
    assert [line.split() for line in result.stdout.splitlines()] == (
        listing(*files["two"][:2]) + listing(*files["one"][:2]))


@pytest.mark.parametrize("where, shown", [
    ("dataCategory=3", ["two.bufr:1"]),
    ("dataCategory=0/3,numberOfSubsets!=128", ["two.bufr:2", "one.bufr:1"]),
    ("typicalDate=20240309,typicalTime=180000,compressedData=0", ["two.bufr:2", "one.bufr:1"]),
    ("bufrHeaderCentre!=98/0", []),
])
def test_ls_selects_and_prints_keys(files, where, shown):
    result = run_cli("ls", "-w", where, "-p", "bufrHeaderCentre,internationalDataSubCategory",
                     files["two"][0], files["one"][0])
    lines = [line.split() for line in result.stdout.splitlines()]
    assert lines[0] == ["bufrHeaderCentre", "internationalDataSubCategory", "message"]
    assert [line[-1].rsplit("/", 1)[-1] for line in lines[1:]] == shown
    assert {tuple(line[:2]) for line in lines[1:]} <= {("98", "3"), ("0", "0")}


@pytest.mark.parametrize("option, text, error", [
    ("-w", "dataCategory", "expected key=value or key!=value, got 'dataCategory'"),
    ("-w", "category=3", "unknown key 'category'; the keys are: edition, "),
    ("-p", "edition,centre", "unknown key 'centre'; the keys are: edition, "),
])
def test_ls_refuses_unknown_keys(option, text, error):
    result = run_cli("ls", option, text, "x.bufr")
    assert result.returncode == 2 and error in result.stderr


def test_ls_json_holds_every_header_field_and_offset(files):
    path, _, offsets = files["two"]
    result = run_cli("ls", "--json", path)
    assert (result.returncode, result.stderr) == (0, "")
    [record] = json.loads(result.stdout)
    assert (record["file"], record["error"]) == (path, None)
    expected = _quorvel.parse_all_file(path)
    assert [m["index"] for m in record["messages"]] == [1, 2]
    assert [m["offset"] for m in record["messages"]] == offsets
    for message, parsed in zip(record["messages"], expected):
        assert message["error"] is None
        header = message["header"]
        names = [name for name in dir(parsed) if not name.startswith("_")]
        assert sorted(header) == sorted(names)
        assert header == {name: getattr(parsed, name) for name in names}


GOOD = build_message(descriptors=[1001]).data


@pytest.mark.parametrize(
    "content, good_lines, error",
    [
        (None, 0, "No such file or directory"),
        ("directory", 0, "Is a directory"),
        (b"plain text and nothing else\n", 0, "no BUFR message found"),
        (build_message(edition=5).data, 0,
         "message 1: unsupported BUFR edition 5; editions 2, 3 and 4 are implemented"),
        (GOOD + build_message(terminator=b"7776").data, 1,
         "message 2: section 5 terminator is not 7777"),
        (HEADING + GOOD + b"BUFR\x00\x10\x00\x04", 1,
         f"after message 1: section 0 at offset {len(HEADING) + len(GOOD)} is truncated"),
        (b"text that names BUFR in a sentence\n", 0,
         "no complete BUFR message: section 0 at offset 16 is truncated"),
        (b"xxBUFR\x00", 0, "no complete BUFR message: message is too short to be BUFR"),
        ("fifo", 0, "not a regular file (a FIFO)"),
        ("device", 0, "not a regular file (a character device)"),
    ],
    ids=["missing", "directory", "text", "edition-5", "bad-second-message",
         "truncated-tail", "text-with-marker", "short-marker", "fifo", "device"],
)
def test_a_bad_file_gives_one_error_line_and_the_run_goes_on(
        files, tmp_path, content, good_lines, error):
    bad = tmp_path / "bad.bufr"
    if content == "directory":
        bad.mkdir()
    elif content == "fifo":
        os.mkfifo(bad)  # opened for reading, it would wait for a writer
    elif content == "device":
        bad.symlink_to("/dev/zero")  # never ends
    elif content is not None:
        bad.write_bytes(content)
    result = run_cli("ls", files["one"][0], bad, files["two"][0])
    assert result.returncode == 1
    assert result.stderr.splitlines() == [f"quorvel: {bad}: {error}"]
    lines = [line.split() for line in result.stdout.splitlines()]
    bad_lines = lines[1:1 + good_lines]
    assert [line[0] for line in bad_lines] == [f"{bad}:{n}" for n in range(1, good_lines + 1)]
    assert lines[:1] + lines[1 + good_lines:] == listing(*files["one"][:2]) + listing(
        *files["two"][:2])

    result = run_cli("ls", "--json", bad)
    [record] = json.loads(result.stdout)
    assert result.returncode == 1
    message_errors = [m["error"] for m in record["messages"] if m["error"] is not None]
    assert [f"message {n}: {e}" for n, e in enumerate(message_errors, start=good_lines + 1)] + (
        [record["error"]] if record["error"] else []) == [error]


def test_error_lines_follow_the_output_before_them(tmp_path):
    path = tmp_path / "mixed.bufr"
    path.write_bytes(GOOD + build_message(edition=5).data + GOOD)
    # With stdout a pipe, Python buffers it unless told otherwise.
    environment = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    result = subprocess.run([sys.executable, "-m", "quorvel", "ls", str(path)], cwd=ROOT,
                            env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, timeout=60)
    assert [line.split()[0] for line in result.stdout.splitlines()] == [
        f"{path}:1", "quorvel:", f"{path}:3"]


@pytest.mark.parametrize("argv", [["ls"], ["dump"], ["dump", "--message", "0", "x.bufr"],
                                  ["dump", "-m", "two", "x.bufr"], ["cat", "x.bufr"],
                                  ["dump", "--tables", "a", "--bufr4", "b", "x.bufr"]])
def test_a_bad_command_line_exits_with_2(argv):
    result = run_cli(*argv)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith("usage: quorvel")


# ---- dump -------------------------------------------------------------------------

# One subset: each descriptor with the bits written for it and the value
# column expected for it.
DUMP_CASES = [
    (1001, [(3, 7)], "3"),
    (1015, [(int.from_bytes(b"ABC     ", "big"), 64)], '"ABC"'),
    (1015, [((1 << 64) - 1, 64)], "missing"),
    (12101, [(29850, 16)], "25.35 K"),
    (10004, [((1 << 14) - 1, 14)], "missing"),
    (10004, [(10132, 14)], "101320 Pa"),
    (1003, [(1, 3)], "1 (code table: REGION I)"),
    (1003, [(5, 3)], "5 (code table)"),
    (31031, [(1, 1)], "1 (flag table)"),
    (222000, [], "[quality information follows]"),
    (204002, [], None),
    (31021, [(1, 6)], "1 (code table: 1-BIT QUALITY FLAG)"),
    (1001, [(2, 2), (6, 7)], "2\n6"),  # the associated field, then the element
    (204000, [], None),
]


def dump_message() -> bytes:
    bits = BitWriter()
    for _, fields, _ in DUMP_CASES:
        for value, width in fields:
            bits.write(value, width)
    return build_message(descriptors=[code for code, _, _ in DUMP_CASES], data=bytes(bits)).data


def expected_dump_rows():
    names = {element.code: element.name for element in ELEMENTS}
    rows = []
    for code, _, shown in DUMP_CASES:
        if shown is None:
            continue
        if code == 1001 and "\n" in shown:
            associated, element = shown.split("\n")
            rows.append(("999999", "associatedField", associated))
            rows.append(("001001", names[1001], element))
        elif code // 100000 == 2:
            rows.append((f"{code:06d}", "operator", shown))
        else:
            rows.append((f"{code:06d}", names[code], shown))
    return rows


def value_rows(lines, names):
    """(descriptor, name, value) of each indented value line."""
    rows = []
    for line in lines:
        assert line.startswith("    "), line
        code, rest = line[4:].split("  ", 1)
        name = next(n for n in names if rest.startswith(n))
        rows.append((code, name, rest[len(name):].strip()))
    return rows


def test_dump_json_writes_compressed_data_by_column(tmp_path, tables):
    # Block numbers 5, 6, 7 (reference 5, 2-bit increments), region 1 in
    # every subset, and a temperature no subset has.
    data = bits((5, 7), (2, 6), (0, 2), (1, 2), (2, 2), (1, 3), (0, 6), (65535, 16), (0, 6))
    path = tmp_path / "compressed.bufr"
    path.write_bytes(build_message(descriptors=[BLOCK.code, REGION.code, TEMPERATURE.code],
                                   data=data, number_of_subsets=3, compressed=True).data)
    result = run_cli("dump", "--json", "--max-values", "8", "--tables", tables, path)
    [message] = json.loads(result.stdout)[0]["messages"]
    assert message["values"] is None
    assert [(c["descriptor"], c["unit"], c["subsets"], c["raw"], c["raw_value"], c["raw_meaning"])
            for c in message["columns"]] == [
        (BLOCK.code, "Numeric", [1, 3], [5, 6, 7], [5.0, 6.0, 7.0], None),
        (REGION.code, "CODE TABLE", [1, 3], 1, 1.0, "REGION I"),
        (TEMPERATURE.code, "K", [1, 2], 65535, None, None),  # cut by --max-values
    ]


def test_dump_prints_each_value_with_unit_and_meaning(tmp_path, tables):
    path = tmp_path / "one.bufr"
    path.write_bytes(dump_message())
    result = run_cli("dump", "--tables", tables, path)
    assert (result.returncode, result.stderr) == (0, "")
    header, *values = result.stdout.splitlines()
    assert header.split()[0] == f"{path}:1"
    names = sorted({e.name for e in ELEMENTS} | {"associatedField", "operator"}, key=len,
                   reverse=True)
    assert value_rows(values, names) == expected_dump_rows()


def test_dump_json_holds_the_decoded_values_and_units(tmp_path, tables):
    data = dump_message()
    path = tmp_path / "one.bufr"
    path.write_bytes(HEADING + data)
    result = run_cli("dump", "--json", "--tables", tables, path)
    assert (result.returncode, result.stderr) == (0, "")
    [record] = json.loads(result.stdout)
    [message] = record["messages"]
    assert (message["index"], message["offset"], message["error"]) == (1, len(HEADING), None)
    assert message["header"]["unexpanded_descriptors"] == [code for code, _, _ in DUMP_CASES]
    decoded = _quorvel.decode_values_with_tables(data, _quorvel.TableSet.from_eccodes(tables))
    assert message["values"] == [
        {
            "descriptor": value.descriptor, "name": value.name,
            "unit": UNITS.get(value.descriptor), "raw": value.raw,
            "raw_value": value.raw_value, "raw_text": value.raw_text,
            "raw_meaning": value.raw_meaning,
        }
        for value in decoded
    ]
    assert [v["unit"] for v in message["values"] if v["name"] in ("operator", "associatedField")
            ] == [None, None]


@pytest.fixture
def three_blocks(tmp_path):
    path = tmp_path / "three.bufr"
    path.write_bytes(HEADING + block_message(11) + HEADING + block_message(22) + block_message(33))
    return path


@pytest.mark.parametrize("option, shown", [([], ["11", "22", "33"]), (["--message", "2"], ["22"]),
                                           (["-m", "3"], ["33"]), (["-m", "1"], ["11"])])
def test_dump_decodes_every_message_or_the_one_asked_for(three_blocks, tables, option, shown):
    result = run_cli("dump", "--tables", tables, *option, three_blocks)
    assert (result.returncode, result.stderr) == (0, "")
    messages = result.stdout.split("\n\n")
    assert [m.splitlines()[1].split()[-1] for m in messages] == shown
    numbers = [int(m.split()[0].rsplit(":", 1)[1]) for m in messages]
    assert [["11", "22", "33"][n - 1] for n in numbers] == shown


@pytest.mark.parametrize("tail, number, error", [
    (b"", 4, "no message 4: the file holds 3 messages"),
    (b"BUFR\x00\x01", 4, "after message 3: message is too short to be BUFR"),
    (b"BUFR\x00\x01", 3, None),  # message 3 is whole: what follows does not matter
])
def test_dump_asked_for_a_message_the_file_lacks(three_blocks, tables, tail, number, error):
    three_blocks.write_bytes(three_blocks.read_bytes() + tail)
    result = run_cli("dump", "--tables", tables, "-m", number, three_blocks)
    assert result.returncode == (1 if error else 0)
    assert result.stderr == (f"quorvel: {three_blocks}: {error}\n" if error else "")
    assert (result.stdout == "") == (error is not None)
    result = run_cli("dump", "--json", "--tables", tables, "-m", number, three_blocks)
    [record] = json.loads(result.stdout)
    assert record["error"] == error
    assert [m["index"] for m in record["messages"]] == ([] if error else [number])


WHERE = " (reading descriptor 048001 at position 0 of subset 1)"


def test_dump_reports_a_failing_message_and_decodes_the_others(tmp_path, tables):
    path = tmp_path / "mixed.bufr"
    short = build_message(descriptors=[12101], data=b"\x01").data  # 8 of 16 bits
    unknown = build_message(descriptors=[48001], data=b"\x07").data
    path.write_bytes(short + block_message(44) + unknown)
    result = run_cli("dump", "--tables", tables, path)
    assert result.returncode == 1
    assert result.stderr.splitlines() == [
        f"quorvel: {path}: message 1: csv/table parse error: not enough bits while reading "
        "section 4 at bit 0 for width 16 (8 bits available) (reading descriptor 012101 at "
        "position 0 of subset 1)",
        f"quorvel: {path}: message 3: descriptor 048001 was not found in Table B (reading "
        "descriptor 048001 at position 0 of subset 1)",
    ]
    header, value = result.stdout.splitlines()
    assert header.split()[0] == f"{path}:2" and value.split()[-1] == "44"

    result = run_cli("dump", "--json", "--tables", tables, path)
    [record] = json.loads(result.stdout)
    assert [(m["index"], m["values"] is None, m["error"] is None) for m in record["messages"]
            ] == [(1, True, False), (2, False, True), (3, True, False)]


def bufr4_tables(directory: Path) -> str:
    directory.mkdir()
    (directory / "BUFRCREX_TableB_en_12.csv").write_text(
        "ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,BUFR_ReferenceValue,"
        "BUFR_DataWidth_Bits,CREX_Unit,CREX_Scale,CREX_DataWidth_Char,Note_en,noteIDs,Status\n"
        '12,Temperature,012101,"Temperature/air temperature",K,2,0,16,C,2,4,,,Operational\n')
    (directory / "BUFR_TableD_en_02.csv").write_text(
        "Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2,ElementName_en,"
        "ElementDescription_en,Note_en,noteIDs,Status\n"
        "02,Temperature,302099,Two temperatures,,012101,Temperature,,,,Operational\n"
        "02,Temperature,302099,Two temperatures,,012101,Temperature,,,,Operational\n")
    return str(directory)


def definitions_root(root: Path) -> str:
    """A definitions root with master version 37, and local version 1 of
    centre 98 adding element 048001."""
    write_tables(root / "bufr" / "tables" / "0" / "wmo" / "37", ELEMENTS, {}, CODETABLES)
    write_tables(root / "bufr" / "tables" / "0" / "local" / "1" / "98" / "0", [LOCAL])
    return str(root)


def test_dump_takes_its_tables_from_each_source(tmp_path, tables):
    path = tmp_path / "two.bufr"
    data = build_message(descriptors=[302099], data=bytes.fromhex("6f 76 6f 80")).data
    path.write_bytes(data)
    result = run_cli("dump", "--bufr4", bufr4_tables(tmp_path / "csv"), path)
    assert (result.returncode, result.stderr) == (0, "")
    # (28534 + 0) / 100 and (28544 + 0) / 100, with the unit from the CSV file
    assert [line.split("  ")[-1] for line in result.stdout.splitlines()[1:]] == [
        "285.34 K", "285.44 K"]
    assert result.stdout.count("Temperature/air temperature") == 2


def test_dump_chooses_tables_per_message_under_a_definitions_root(tmp_path):
    root = definitions_root(tmp_path / "definitions")
    local = dict(descriptors=[48001], data=b"\x07", originating_centre=98)
    path = tmp_path / "messages.bufr"
    path.write_bytes(
        build_message(local_tables_version_number=1, **local).data
        + build_message(local_tables_version_number=0, **local).data
        + build_message(local_tables_version_number=1, **local).data
        + build_message(local_tables_version_number=1, **dict(local, originating_centre=99)).data
        + block_message(5, master_tables_version_number=36))
    result = run_cli("dump", "--definitions", root, path)
    assert result.returncode == 1
    tables = f"{root}/bufr/tables/0"
    assert result.stderr.splitlines() == [
        f"quorvel: {path}: message 2: descriptor 048001 was not found in Table B{WHERE}; "
        f"tables tried: {tables}/wmo/37",
        f"quorvel: {path}: message 4: descriptor 048001 was not found in Table B{WHERE}; "
        f"tables tried: {tables}/wmo/37, {tables}/local/1/99/0",
        f"quorvel: {path}: message 5: warning: master tables version 36 is not installed under "
        f"{root}; decoding with version 37, the nearest newer one installed",
    ]
    decoded = [m.splitlines() for m in result.stdout.split("\n\n")]
    assert [(m[0].split()[0], m[1].split()[-2:]) for m in decoded] == [
        (f"{path}:1", ["7", "m"]), (f"{path}:3", ["7", "m"]), (f"{path}:5", ["NUMBER", "5"])]


@pytest.mark.parametrize("option, hint", [
    ("--tables", "csv/table parse error: "),
    ("--bufr4", "io error: "),
    ("--definitions", "not a directory (install Debian's libeccodes-data"),
])
def test_tables_that_cannot_load_stop_the_dump_at_once(tmp_path, three_blocks, option, hint):
    missing = tmp_path / "no-tables"
    result = run_cli("dump", option, missing, three_blocks, tmp_path / "missing.bufr")
    assert (result.returncode, result.stdout) == (1, "")
    [line] = result.stderr.splitlines()
    assert line.startswith(f"quorvel: {option} {missing}: {hint}")


@pytest.mark.parametrize("json_output", [False, True])
def test_max_values_stops_the_file_and_the_run_goes_on(tmp_path, tables, three_blocks,
                                                       json_output):
    path = tmp_path / "one.bufr"
    path.write_bytes(dump_message() + dump_message())
    option = ["--json"] if json_output else []
    result = run_cli("dump", *option, "--max-values", 3, "--tables", tables, path, three_blocks)
    assert result.returncode == 1
    assert result.stderr == (
        f"quorvel: {path}: message 1: stopped: more than 3 values to print (--max-values)\n")
    shown = [row[2] for row in expected_dump_rows()[:3]]
    if json_output:
        stopped, other = json.loads(result.stdout)
        [message] = stopped["messages"]
        assert message["error"].startswith("stopped: more than 3 values")
        assert [(v["descriptor"], v["raw"], v["raw_text"]) for v in message["values"]
                ] == [(1001, 3, None), (1015, None, "ABC"), (1015, None, None)]
        assert [len(m["values"]) for m in other["messages"]] == [1, 1, 1]
        return
    first, *others = result.stdout.split("\n\n")
    header, *values = first.splitlines()
    assert header.split()[0] == f"{path}:1"
    assert [line.split("  ")[-1].strip() for line in values] == shown
    assert [m.splitlines()[1].split()[-1] for m in others] == ["11", "22", "33"]


def test_text_from_files_and_tables_is_escaped(tmp_path):
    odd = Element(48002, "BELL\x07NAME", 3, unit="CODE\x1b[2JTABLE")
    directory = write_tables(tmp_path / "tables\x1b]0;t\x07", [odd], {},
                             {48002: {1: "RED\x1b[31m", 2: "CSI\x9bJ"}})
    path = tmp_path / "new\nline\x1b.bufr"
    bits = BitWriter().write(1, 3).write(2, 3)
    path.write_bytes(build_message(descriptors=[48002, 48002], data=bytes(bits)).data)
    result = run_cli("dump", "--tables", directory, path, tmp_path / "gone\x07.bufr")
    shown = str(path).replace("\n", "\\n").replace("\x1b", "\\x1b")
    assert result.stderr == f"quorvel: {tmp_path}/gone\\x07.bufr: No such file or directory\n"
    assert result.stdout.splitlines()[0].startswith(f"{shown}:1 ")
    assert [line.strip().split("  ")[1:] for line in result.stdout.splitlines()[1:]] == [
        ["BELL\\x07NAME", "1 CODE\\x1b[2JTABLE (RED\\x1b[31m)"],
        ["BELL\\x07NAME", "2 CODE\\x1b[2JTABLE (CSI\\x9bJ)"],
    ]
    result = run_cli("dump", "--json", "--tables", directory, path)
    assert not any(c in result.stdout for c in "\x07\x1b\x9b")
    [record] = json.loads(result.stdout)
    assert record["file"] == str(path)
    assert [v["raw_meaning"] for v in record["messages"][0]["values"]] == ["RED\x1b[31m",
                                                                         "CSI\x9bJ"]
    missing = tmp_path / "no\x1btables"
    result = run_cli("dump", "--tables", missing, path)
    assert result.stderr.startswith(f"quorvel: --tables {tmp_path}/no\\x1btables: ")


def test_json_writes_null_for_a_value_no_double_holds(tmp_path):
    huge = Element(48003, "HUGE", 4, scale=-400)
    directory = write_tables(tmp_path / "tables", [huge, PRESSURE])
    path = tmp_path / "huge.bufr"
    bits = BitWriter().write(5, 4).write(0, 4).write(10132, 14)
    path.write_bytes(build_message(descriptors=[48003, 48003, 10004], data=bytes(bits)).data)
    result = run_cli("dump", "--json", "--tables", directory, path)
    assert (result.returncode, result.stderr) == (0, "")

    def refuse(constant):
        raise AssertionError(f"{constant} is not JSON")

    [record] = json.loads(result.stdout, parse_constant=refuse)
    assert [(v["raw"], v["raw_value"], v.get("note")) for v in record["messages"][0]["values"]
            ] == [(5, None, "raw_value is out of the range of a double"),
                  (0, None, "raw_value is out of the range of a double"),
                  (10132, 101320.0, None)]


def test_a_large_dump_runs_in_bounded_memory(tmp_path, tables):
    # 65535 compressed subsets of 32 one-bit values: some two million values,
    # some 300 MB of JSON, from a message of 81 octets.
    columns = 31
    bits = BitWriter().write(columns, 16).write(0, 6)
    for _ in range(columns):
        bits.write(0, 1).write(0, 6)
    path = tmp_path / "wide.bufr"
    path.write_bytes(build_message(descriptors=[101000, 31002, 31031], data=bytes(bits),
                                   number_of_subsets=65535, compressed=True).data)
    directory = write_tables(tmp_path / "wide", [LONG_FACTOR, PRESENT])
    limit = "import resource; resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))"
    result = subprocess.run(
        [sys.executable, "-c", f"{limit}; from quorvel import cli; raise SystemExit(cli.main())",
         "dump", "--json", "--tables", directory, str(path)],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=120, cwd=ROOT)
    assert (result.returncode, result.stderr) == (0, "")


# ---- several files, terminals and pipes ---------------------------------------------

class Terminal(io.StringIO):
    def isatty(self) -> bool:
        return True


@pytest.mark.parametrize("count, terminal, shown", [
    (11, True, True), (10, True, False), (11, False, False), (30, True, True)])
def test_progress_bar_only_for_many_files_on_a_terminal(
        tmp_path, monkeypatch, count, terminal, shown):
    path = tmp_path / "one.bufr"
    path.write_bytes(block_message(1))
    out, err = io.StringIO(), (Terminal() if terminal else io.StringIO())
    monkeypatch.setattr(sys, "stdout", out)
    monkeypatch.setattr(sys, "stderr", err)
    assert cli.main(["ls", *[str(path)] * count]) == 0
    assert [line.split()[0] for line in out.getvalue().splitlines()] == [f"{path}:1"] * count
    assert "\x1b" not in out.getvalue()
    if not shown:
        assert err.getvalue() == ""
        return
    drawn = [part for part in err.getvalue().split("\r\x1b[K") if part]
    assert [part.split("] ")[1].split()[0] for part in drawn] == [
        f"{n}/{count}" for n in range(1, count + 1)]
    assert drawn[-1].startswith("[" + "#" * 24 + "]")
    assert err.getvalue().endswith("\r\x1b[K"), "the bar stays on screen"


def test_errors_clear_the_progress_bar_first(tmp_path, monkeypatch):
    path = tmp_path / "one.bufr"
    path.write_bytes(block_message(1))
    err = Terminal()
    monkeypatch.setattr(sys, "stdout", io.StringIO())
    monkeypatch.setattr(sys, "stderr", err)
    assert cli.main(["ls", *[str(path)] * 11, str(tmp_path / "missing")]) == 1
    assert f"\r\x1b[Kquorvel: {tmp_path / 'missing'}: No such file or directory\n" in err.getvalue()


@pytest.mark.parametrize("redirect, status, error", [
    ("| head -n 1", 141, ""),
    ("> /dev/full", 1, "quorvel: standard output: No space left on device\n"),
    (">&-", 1, "quorvel: standard output: Bad file descriptor\n"),
], ids=["broken-pipe", "disk-full", "closed"])
def test_output_that_cannot_be_written_ends_the_run_with_one_line(tmp_path, redirect, status,
                                                                  error):
    errors = tmp_path / "stderr.txt"
    paths = " ".join(["examples/synop.bufr"] * 3000)
    result = subprocess.run(
        ["bash", "-c", f'"{sys.executable}" -m quorvel ls {paths} 2>"{errors}" {redirect}; '
         'echo "${PIPESTATUS[0]}" >&2'],
        capture_output=True, text=True, timeout=120, cwd=ROOT,
    )
    assert (int(result.stderr), errors.read_text()) == (status, error)
    assert result.stdout.split()[:1] == (["examples/synop.bufr:1"] if "head" in redirect else [])


def test_the_installed_command_is_the_module():
    script = Path(sys.executable).parent / "quorvel"
    if not script.exists():
        pytest.skip("quorvel is not installed beside this interpreter")
    installed = subprocess.run([str(script), "ls", "examples/synop.bufr"], capture_output=True,
                               text=True, timeout=60, cwd=ROOT)
    assert installed.returncode == 0
    assert installed.stdout == run_cli("ls", "examples/synop.bufr").stdout != ""
