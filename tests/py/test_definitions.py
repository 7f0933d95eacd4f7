"""TableSet.from_definitions on definitions roots built in tmp_path: which
master and local directories a message names, how local tables replace
master ones, alias files and their bounds, and the exact error texts."""

from __future__ import annotations

import errno
import os
import struct
from pathlib import Path

import pytest

from _quorvel import BufrMessage, TableSet, parse_bytes
from test_expansion_support import ERROR_PREFIX, write_table_directory

MASTER_ELEMENTS = {1001: "MASTER BLOCK", 1002: "MASTER STATION", 1003: "MASTER REGION"}
MASTER_SEQUENCES = {301001: [1001, 1002], 301002: [1003]}
MASTER_CODES = {1003: {0: "Antarctica", 1: "Africa", 2: "Asia"}}
ALIAS_LIMIT = 32


def message(master_table=0, centre=98, subcentre=0, master_version=37, local_version=0):
    """A parsed edition-4 message with these section-1 numbers, no section 2,
    no descriptors and an empty data section."""
    section1 = struct.pack(">I", 22)[1:] + struct.pack(
        ">BHHBBBBBBBHBBBBB", master_table, centre, subcentre, 0, 0, 0, 0, 0, master_version,
        local_version, 2024, 1, 2, 3, 4, 5)
    section3 = struct.pack(">I", 7)[1:] + bytes([0, 0, 1, 0x80])
    section4 = struct.pack(">I", 4)[1:] + bytes([0])
    body = section1 + section3 + section4 + b"7777"
    data = b"BUFR" + struct.pack(">I", 8 + len(body))[1:] + bytes([4]) + body
    # The numbers sit at octets 11, 12-13, 14-15, 21 and 22 of the message.
    assert (data[11], data[12:14], data[14:16], data[21], data[22]) == (
        master_table, centre.to_bytes(2, "big"), subcentre.to_bytes(2, "big"), master_version,
        local_version)
    return parse_bytes(data)


def os_error_text(code):
    return f"{os.strerror(code)} (os error {code})"


def tables_dir(root, master_table=0):
    return Path(root) / "bufr" / "tables" / str(master_table)


def write_master(root, version, elements=None, sequences=None, codetables=None, master_table=0):
    """A master directory; by default the tables above, named after `version`
    so that a test can tell which version was read."""
    if elements is None:
        elements = dict(MASTER_ELEMENTS)
        elements[1001] = f"MASTER BLOCK {version}"
    return write_table_directory(
        tables_dir(root, master_table) / "wmo" / str(version), elements,
        MASTER_SEQUENCES if sequences is None else sequences,
        MASTER_CODES if codetables is None else codetables)


def local_dir(root, version_name, centre=98, subcentre=0, master_table=0):
    local = tables_dir(root, master_table) / "local"
    return local / str(version_name) / str(centre) / str(subcentre)


def write_alias(root, name, content, master_table=0):
    path = tables_dir(root, master_table) / "wmo" / str(name)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(content.encode() if isinstance(content, str) else content)
    return path


def master_path(root, version=37, master_table=0):
    return f"{root}/bufr/tables/{master_table}/wmo/{version}"


def select(root, **fields):
    return TableSet.from_definitions(str(root), message(**fields))


def select_error(root, **fields):
    with pytest.raises(ValueError) as caught:
        select(root, **fields)
    return str(caught.value)


def block_name(tables):
    return tables.get_element(1001).name


@pytest.fixture
def root(tmp_path):
    root = tmp_path / "definitions"
    write_master(root, 37)
    write_master(root, 36)
    return root


# ---- The master directory -------------------------------------------------------------

def test_master_tables_load(root):
    tables = select(root)
    assert type(tables) is TableSet
    assert (tables.element_count, tables.sequence_count) == (3, 2)
    assert block_name(tables) == "MASTER BLOCK 37"
    assert tables.expand([301001, 301002]) == [1001, 1002, 1003]
    assert tables.get_meaning(1003, 2) == "Asia"


@pytest.mark.parametrize("master_table, version", [(0, 0), (0, 13), (0, 255), (7, 37), (255, 19)])
def test_master_numbers_are_plain_decimal(tmp_path, master_table, version):
    write_master(tmp_path, version, master_table=master_table)
    # Neighbours that a padded or swapped path would pick up.
    if f"{version:03}" != str(version):
        write_master(tmp_path, f"{version:03}", elements={1001: "PADDED"},
                     master_table=master_table)
    if master_table != version:
        write_master(tmp_path, master_table, elements={1001: "SWAPPED"}, master_table=version)
    tables = select(tmp_path, master_table=master_table, master_version=version)
    assert block_name(tables) == f"MASTER BLOCK {version}"


def test_master_without_codetables_loads(tmp_path):
    directory = write_master(tmp_path, 37)
    for entry in (Path(directory) / "codetables").iterdir():
        entry.unlink()
    (Path(directory) / "codetables").rmdir()
    tables = select(tmp_path)
    assert tables.element_count == 3 and tables.get_meaning(1003, 2) is None


@pytest.mark.parametrize("missing, expected", [
    ("element.table", ERROR_PREFIX + os_error_text(errno.ENOENT)),
    ("sequence.def", "io error: " + os_error_text(errno.ENOENT)),
])
def test_master_without_a_required_file(tmp_path, missing, expected):
    directory = write_master(tmp_path, 37)
    (Path(directory) / missing).unlink()
    assert select_error(tmp_path) == expected


@pytest.mark.parametrize("layout", ["no root", "empty root", "other version only"])
def test_missing_master_names_its_path(tmp_path, layout):
    root = tmp_path / "nothing" if layout == "no root" else tmp_path
    if layout == "other version only":
        write_master(root, 36)
    assert select_error(root, master_version=37) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: " + master_path(root))


def test_missing_master_of_another_table_names_its_path(root):
    assert select_error(root, master_table=3) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: " + master_path(root, 37, 3))


def test_a_root_with_a_trailing_separator_gives_single_separators(tmp_path):
    assert select_error(str(tmp_path) + "/") == (
        ERROR_PREFIX + "ecCodes table directory does not exist: " + master_path(tmp_path))
    write_master(tmp_path, 37)
    assert block_name(select(str(tmp_path) + "/")) == "MASTER BLOCK 37"


def test_a_relative_root(root, monkeypatch):
    monkeypatch.chdir(root.parent)
    assert block_name(select("definitions")) == "MASTER BLOCK 37"
    assert select_error("definitions", master_version=99) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: definitions/bufr/tables/0/wmo/99")


def test_an_undecodable_root_is_shown_with_replacement_characters(tmp_path):
    root = os.path.join(str(tmp_path), os.fsdecode(b"d\xffe"))
    assert select_error(root) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: "
        + f"{tmp_path}/d\ufffde/bufr/tables/0/wmo/37")


def test_a_master_that_is_neither_file_nor_directory(tmp_path):
    wmo = tables_dir(tmp_path) / "wmo"
    wmo.mkdir(parents=True)
    os.mkfifo(wmo / "37")
    assert select_error(tmp_path) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: " + master_path(tmp_path))


def test_a_dangling_master_link(tmp_path):
    wmo = tables_dir(tmp_path) / "wmo"
    wmo.mkdir(parents=True)
    (wmo / "37").symlink_to("nowhere")
    assert select_error(tmp_path) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: " + master_path(tmp_path))


def test_a_master_link_to_a_directory(root):
    (tables_dir(root) / "wmo" / "12").symlink_to("36")
    assert block_name(select(root, master_version=12)) == "MASTER BLOCK 36"


# ---- Alias files ----------------------------------------------------------------------

def replace_with_alias(root, version, content):
    directory = tables_dir(root) / "wmo" / str(version)
    if directory.is_dir():
        for entry in sorted(directory.rglob("*"), reverse=True):
            entry.rmdir() if entry.is_dir() else entry.unlink()
        directory.rmdir()
    return write_alias(root, version, content)


@pytest.mark.parametrize("content", ["36", "36\n", "  36  \r\n", "\t36\u3000", "\u00a036\u2029\n"],
                         ids=["bare", "line end", "spaces", "ideographic space", "nbsp"])
def test_an_alias_names_a_sibling(root, content):
    replace_with_alias(root, 37, content)
    assert block_name(select(root)) == "MASTER BLOCK 36"


def test_a_chain_of_two_aliases(root):
    replace_with_alias(root, 37, "36\n")
    write_alias(root, 38, "37\n")
    tables = select(root, master_version=38)
    assert block_name(tables) == "MASTER BLOCK 36"
    assert tables.element_count == 3


def test_an_alias_to_a_link(root):
    (tables_dir(root) / "wmo" / "linked").symlink_to("36")
    write_alias(root, 38, "linked")
    assert block_name(select(root, master_version=38)) == "MASTER BLOCK 36"


@pytest.mark.parametrize("alias, shown", [
    ("../36", '"../36"'),
    ("36/", '"36/"'),
    ("/36", '"/36"'),
    ("..\\36", '"..\\\\36"'),
    ("", '""'),
    (" \n\t\r\n", '""'),
    ("3\\6\t\"x\"", '"3\\\\6\\t\\"x\\""'),
], ids=["parent", "trailing slash", "absolute", "backslash", "empty", "white space",
        "quoted form"])
def test_an_invalid_alias(root, alias, shown):
    replace_with_alias(root, 37, alias)
    assert select_error(root) == (
        ERROR_PREFIX + f"invalid ecCodes table alias {master_path(root)} -> {shown}")


def test_an_invalid_alias_further_down_a_chain_names_its_own_file(root):
    write_alias(root, 38, "39")
    write_alias(root, 39, "../36")
    assert select_error(root, master_version=38) == (
        ERROR_PREFIX + f"invalid ecCodes table alias {master_path(root, 39)} -> \"../36\"")


@pytest.mark.parametrize("chain", [["99"], ["39", "99"]], ids=["direct", "through another"])
def test_a_broken_alias_names_the_target(root, chain):
    names = [38] + [int(name) for name in chain]
    for name, target in zip(names, chain):
        write_alias(root, name, target + "\n")
    assert select_error(root, master_version=38) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: " + master_path(root, 99))


def test_an_alias_naming_an_entry_with_a_tab_inside(root):
    write_alias(root, 38, "3\t6")
    assert select_error(root, master_version=38) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: " + master_path(root, "3\t6"))


def test_an_alias_that_is_not_utf8(root):
    write_alias(root, 38, b"\xff36\n")
    assert select_error(root, master_version=38) == (
        "io error: stream did not contain valid UTF-8")


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_an_unreadable_alias(root):
    path = write_alias(root, 38, "36")
    path.chmod(0)
    try:
        assert select_error(root, master_version=38) == (
            "io error: " + os_error_text(errno.EACCES))
    finally:
        path.chmod(0o644)


def loop_text(root, version):
    return (ERROR_PREFIX + f"ecCodes table aliases from {master_path(root, version)} "
            f"form a loop or a chain longer than {ALIAS_LIMIT}")


@pytest.mark.parametrize("links, start", [
    ({38: "38"}, 38),
    ({38: "38\n"}, 38),
    ({38: "39", 39: "38"}, 38),
    ({38: "39", 39: "40", 40: "39"}, 38),
], ids=["self", "self with line end", "ring of two", "into a ring"])
def test_alias_loops_fail(root, links, start):
    for name, target in links.items():
        write_alias(root, name, target)
    assert select_error(root, master_version=start) == loop_text(root, start)


def write_alias_chain(root, length, target):
    """Alias files 100 -> 101 -> ... , `length` of them, the last naming `target`."""
    names = [str(100 + i) for i in range(length)] + [target]
    for name, following in zip(names, names[1:]):
        write_alias(root, name, following)


def test_the_longest_alias_chain_resolves(root):
    write_alias_chain(root, ALIAS_LIMIT, "36")
    assert block_name(select(root, master_version=100)) == "MASTER BLOCK 36"


def test_one_alias_more_fails(root):
    write_alias_chain(root, ALIAS_LIMIT + 1, "36")
    assert select_error(root, master_version=100) == loop_text(root, 100)


def test_the_longest_chain_still_reports_a_broken_end(root):
    write_alias_chain(root, ALIAS_LIMIT, "99")
    assert select_error(root, master_version=100) == (
        ERROR_PREFIX + "ecCodes table directory does not exist: " + master_path(root, 99))


# ---- Local tables ---------------------------------------------------------------------

def write_local(root, version_name, centre=98, subcentre=0, elements=None, sequences=None,
                codetables=None, master_table=0):
    """A local directory holding only the entries given (None leaves one out)."""
    return write_table_directory(
        local_dir(root, version_name, centre, subcentre, master_table), elements, sequences,
        codetables, element_file=elements is not None, sequence_file=sequences is not None)


@pytest.mark.parametrize("centre, subcentre", [(98, 0), (0, 0), (7, 3)])
def test_local_version_zero_reads_no_local_tables(root, centre, subcentre):
    for name in ("0", "1", "19-0"):
        write_local(root, name, centre, subcentre, elements={1001: "LOCAL", 1004: "LOCAL ONLY"})
    tables = select(root, centre=centre, subcentre=subcentre, local_version=0)
    assert block_name(tables) == "MASTER BLOCK 37"
    assert tables.element_count == 3 and tables.get_element(1004) is None


@pytest.mark.parametrize("present", [[], ["1"], ["1", "98"]],
                         ids=["no version", "no centre", "no subcentre"])
def test_a_missing_local_directory_is_not_an_error(root, present):
    directory = tables_dir(root) / "local"
    for part in present:
        directory = directory / part
    directory.mkdir(parents=True)
    tables = select(root, local_version=1)
    assert (tables.element_count, tables.sequence_count) == (3, 2)


def test_an_empty_local_directory_changes_nothing(root):
    local_dir(root, 1).mkdir(parents=True)
    tables = select(root, local_version=1)
    assert (tables.element_count, tables.sequence_count) == (3, 2)
    assert tables.get_meaning(1003, 2) == "Asia"


def test_a_local_directory_with_only_codetables(root):
    write_local(root, 1, codetables={2001: {3: "Local three"}})
    tables = select(root, local_version=1)
    assert (tables.element_count, tables.sequence_count) == (3, 2)
    assert block_name(tables) == "MASTER BLOCK 37"
    assert tables.get_meaning(2001, 3) == "Local three"
    assert tables.get_meaning(1003, 2) == "Asia"


def test_a_local_element_replaces_the_master_one(root):
    write_local(root, 1, elements={1001: "LOCAL BLOCK", 1004: "LOCAL ONLY"})
    tables = select(root, local_version=1)
    assert tables.element_count == 4
    assert block_name(tables) == "LOCAL BLOCK"
    assert tables.get_element(1002).name == "MASTER STATION"
    assert tables.get_element(1004).name == "LOCAL ONLY"
    assert tables.sequence_count == 2


def test_a_local_sequence_replaces_the_master_one(root):
    write_local(root, 1, sequences={301001: [1003, 1003], 301003: [301001, 301002]})
    tables = select(root, local_version=1)
    assert tables.sequence_count == 3
    assert tables.expand([301003]) == [1003, 1003, 1003]
    assert tables.get_sequence(301002).members == [1003]


def test_a_local_code_table_replaces_the_master_one_whole(root):
    write_local(root, 1, codetables={1003: {5: "Local five"}})
    tables = select(root, local_version=1)
    assert tables.get_meaning(1003, 5) == "Local five"
    for raw in MASTER_CODES[1003]:
        assert tables.get_meaning(1003, raw) is None


@pytest.mark.parametrize("master_version, local_version, chosen", [
    (19, 2, "19-2"), (19, 1, "19-1"), (19, 255, "19-255"),
    (18, 2, "2"), (20, 2, "2"), (37, 255, "255"), (1, 19, "19"),
])
def test_the_local_version_directory_name(tmp_path, master_version, local_version, chosen):
    write_master(tmp_path, master_version)
    for name in {f"19-{local_version}", str(local_version), f"{master_version}-{local_version}"}:
        write_local(tmp_path, name, elements={1001: f"LOCAL {name}"})
    tables = select(tmp_path, master_version=master_version, local_version=local_version)
    assert block_name(tables) == f"LOCAL {chosen}"


def test_the_local_name_follows_the_message_not_the_alias(root):
    write_alias(root, 19, "36")
    write_local(root, "19-1", elements={1001: "LOCAL 19-1"})
    write_local(root, "36-1", elements={1001: "LOCAL 36-1"})
    write_local(root, "1", elements={1001: "LOCAL 1"})
    assert block_name(select(root, master_version=19, local_version=1)) == "LOCAL 19-1"


@pytest.mark.parametrize("centre, subcentre", [(98, 0), (65535, 65535), (7, 300), (0, 98)])
def test_centre_and_subcentre_are_plain_decimal(root, centre, subcentre):
    write_local(root, 1, centre, subcentre, elements={1001: "CHOSEN"})
    if centre != subcentre:
        write_local(root, 1, subcentre, centre, elements={1001: "SWAPPED"})
    if (f"{centre:05}", f"{subcentre:05}") != (str(centre), str(subcentre)):
        write_local(root, 1, f"{centre:05}", f"{subcentre:05}", elements={1001: "PADDED"})
    tables = select(root, centre=centre, subcentre=subcentre, local_version=1)
    assert block_name(tables) == "CHOSEN"


def test_local_tables_of_another_master_table(root):
    write_master(root, 37, master_table=4)
    write_local(root, 1, master_table=4, elements={1001: "TABLE 4"})
    write_local(root, 1, master_table=0, elements={1001: "TABLE 0"})
    assert block_name(select(root, master_table=4, local_version=1)) == "TABLE 4"


def test_a_file_at_the_local_path_reads_nothing(root):
    path = local_dir(root, 1)
    path.parent.mkdir(parents=True)
    path.write_text("element.table\n")
    tables = select(root, local_version=1)
    assert (tables.element_count, tables.sequence_count) == (3, 2)


@pytest.mark.parametrize("entry, write, expected", [
    ("sequence.def", '"30000x" = [ 001001 ]\n',
     ERROR_PREFIX + 'bad descriptor code "30000x": invalid digit found in string'),
    ("sequence.def", '"301001" = 001001\n]\n',
     ERROR_PREFIX + '"301001" = 001001 ]'),
    ("sequence.def", b"\xff", "io error: stream did not contain valid UTF-8"),
    # Blanks around a number are let be in local tables; other text is not.
    ("element.table", "001001|a|long|NAME|Numeric|0|0| 7x|Numeric|0|2\n",
     ERROR_PREFIX + 'bad u16 "7x": invalid digit found in string'),
    ("codetables/1003.table", "x 1 meaning\n",
     ERROR_PREFIX + 'bad code table key "x": invalid digit found in string'),
    ("codetables/abc.table", "1 1 meaning\n",
     ERROR_PREFIX + 'bad descriptor code "abc": invalid digit found in string'),
], ids=["sequence key", "sequence without list", "sequence not utf8", "element width",
        "code table key", "code table name"])
def test_a_malformed_local_file_fails_the_whole_selection(root, entry, write, expected):
    directory = local_dir(root, 1)
    (directory / entry).parent.mkdir(parents=True, exist_ok=True)
    content = write.encode() if isinstance(write, str) else write
    (directory / entry).write_bytes(content)
    assert select_error(root, local_version=1) == expected
    # The same root still serves a message that names no local tables.
    assert select(root, local_version=0).element_count == 3


@pytest.mark.parametrize("entry, kind, expected", [
    ("codetables", "file", "io error: " + os_error_text(errno.ENOTDIR)),
    ("element.table", "directory", ERROR_PREFIX + os_error_text(errno.EISDIR)),
    ("sequence.def", "directory", "io error: " + os_error_text(errno.EISDIR)),
])
def test_a_local_entry_of_the_wrong_kind(root, entry, kind, expected):
    directory = local_dir(root, 1)
    directory.mkdir(parents=True)
    if kind == "file":
        (directory / entry).write_text("")
    else:
        (directory / entry).mkdir()
    assert select_error(root, local_version=1) == expected


def test_local_entries_that_are_links(root, tmp_path):
    shared = write_table_directory(tmp_path / "shared", {1001: "LINKED"}, {301009: [1002]},
                                   {1003: {9: "Linked nine"}})
    directory = local_dir(root, 1)
    directory.mkdir(parents=True)
    for name in ("element.table", "sequence.def", "codetables"):
        (directory / name).symlink_to(Path(shared) / name)
    tables = select(root, local_version=1)
    assert block_name(tables) == "LINKED"
    assert tables.expand([301009]) == [1002]
    assert tables.get_meaning(1003, 9) == "Linked nine"


def test_a_dangling_local_entry_is_skipped(root):
    directory = local_dir(root, 1)
    directory.mkdir(parents=True)
    (directory / "element.table").symlink_to("nowhere")
    write_local(root, 1, sequences={301001: [1003]})
    tables = select(root, local_version=1)
    assert block_name(tables) == "MASTER BLOCK 37"
    assert tables.expand([301001]) == [1003]


# ---- Arguments ------------------------------------------------------------------------

@pytest.mark.parametrize("path", [5, None, b"/tmp", Path("/tmp"), ["/tmp"]],
                         ids=["int", "None", "bytes", "path", "list"])
def test_path_must_be_str(path):
    with pytest.raises(TypeError) as caught:
        TableSet.from_definitions(path, message())
    assert str(caught.value).startswith("argument 'path': ")


@pytest.mark.parametrize("value", [None, b"BUFR", "message", 37, TableSet()],
                         ids=["None", "bytes", "str", "int", "table set"])
def test_message_must_be_a_bufr_message(root, value):
    with pytest.raises(TypeError) as caught:
        TableSet.from_definitions(str(root), value)
    assert str(caught.value).startswith("argument 'message': ")


def test_path_is_converted_before_message():
    with pytest.raises(TypeError) as caught:
        TableSet.from_definitions(Path("/tmp"), None)
    assert str(caught.value).startswith("argument 'path': ")


def test_arguments_are_converted_before_any_file_is_read(tmp_path):
    with pytest.raises(TypeError) as caught:
        TableSet.from_definitions(str(tmp_path / "missing"), b"BUFR")
    assert str(caught.value).startswith("argument 'message': ")


def test_from_definitions_takes_keywords(root):
    tables = TableSet.from_definitions(message=message(), path=str(root))
    assert block_name(tables) == "MASTER BLOCK 37"


@pytest.mark.parametrize("args, kwargs", [
    ((), {}), (("/tmp",), {}), (("/tmp", None, None), {}), (("/tmp",), {"msg": None}),
], ids=["none", "no message", "three", "unknown keyword"])
def test_from_definitions_argument_count(args, kwargs):
    with pytest.raises(TypeError):
        TableSet.from_definitions(*args, **kwargs)


def test_the_built_message_carries_its_numbers():
    built = message(master_table=3, centre=300, subcentre=65535, master_version=19,
                    local_version=250)
    assert type(built) is BufrMessage
    assert (built.master_table_number, built.originating_centre, built.originating_subcentre,
            built.master_tables_version_number, built.local_tables_version_number) == (
        3, 300, 65535, 19, 250)
