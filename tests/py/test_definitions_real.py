"""TableSet.from_definitions on the Debian ecCodes definitions root: every
master version, every local directory there, and the messages of the shared
data set, checked against the table files read without the module."""

from __future__ import annotations

import os
from pathlib import Path

import pytest

from _quorvel import TableSet, parse_all_file
from test_definitions import message
from test_expansion_support import (DEFINITIONS_ROOT, SHARED_DATA, module_outcome,
                                    read_element_codes, read_sequences, reference_outcome)

TABLES = DEFINITIONS_ROOT / "bufr" / "tables" / "0"


def numbered_entries(directory):
    if not directory.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"{directory} absent"))]
    return sorted(int(entry.name) for entry in directory.iterdir() if entry.name.isdigit())


def local_directories():
    """(master version, local version, centre, subcentre) of every local
    directory, with master version 19 for the "19-L" directories and 37 for
    the others."""
    local = TABLES / "local"
    if not local.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"{local} absent"))]
    found = []
    for directory in sorted(local.glob("*/*/*")):
        version, centre, subcentre = directory.relative_to(local).parts
        if not directory.is_dir() or not (centre.isdigit() and subcentre.isdigit()):
            continue
        master = 19 if version.startswith("19-") else 37
        found.append(pytest.param(master, int(version.removeprefix("19-")), int(centre),
                                  int(subcentre), id=f"{version}/{centre}/{subcentre}"))
    return found


def read_code_table(path):
    meanings = {}
    for line in Path(path).read_text(encoding="utf-8").split("\n"):
        words = line.split()
        if len(words) < 3 or words[0].startswith("#"):
            continue
        meanings[int(words[0])] = " ".join(words[2:])
    return meanings


def read_code_tables(directory):
    if not directory.is_dir():
        return {}
    return {int(entry.name.removesuffix(".table")): read_code_table(entry)
            for entry in sorted(directory.iterdir()) if entry.name.endswith(".table")}


def local_directory(master_version, local_version, centre, subcentre):
    name = f"19-{local_version}" if master_version == 19 else str(local_version)
    return TABLES / "local" / name / str(centre) / str(subcentre)


def expected_tables(master_version, local_version, centre, subcentre):
    """Elements (code to name), sequences and code tables that the message's
    master and local directories hold, local entries replacing master ones."""
    master = Path(os.path.realpath(TABLES / "wmo" / str(master_version)))
    elements = read_element_codes(master / "element.table")
    sequences = read_sequences(master / "sequence.def")
    code_tables = read_code_tables(master / "codetables")
    if local_version:
        local = local_directory(master_version, local_version, centre, subcentre)
        if (local / "element.table").exists():
            elements.update(read_element_codes(local / "element.table"))
        if (local / "sequence.def").exists():
            sequences.update(read_sequences(local / "sequence.def"))
        code_tables.update(read_code_tables(local / "codetables"))
    return elements, sequences, code_tables


def check_selection(tables, elements, sequences, code_tables):
    assert (tables.element_count, tables.sequence_count) == (len(elements), len(sequences))
    assert {code: tables.get_element(code).name for code in elements} == elements
    assert {code: tables.get_sequence(code).members for code in sequences} == sequences
    for code, meanings in code_tables.items():
        assert {raw: tables.get_meaning(code, raw) for raw in meanings} == meanings


@pytest.mark.parametrize("version", numbered_entries(TABLES / "wmo"))
def test_every_master_version(version):
    tables = TableSet.from_definitions(str(DEFINITIONS_ROOT), message(master_version=version))
    check_selection(tables, *expected_tables(version, 0, 98, 0))


@pytest.mark.parametrize("master_version, local_version, centre, subcentre", local_directories())
def test_every_local_directory(master_version, local_version, centre, subcentre):
    """Local element tables that mix rows of 8 and 11 fields, or put blanks
    after a number (4/98/0 and 19-1/254/0), are read too."""
    fields = dict(master_version=master_version, local_version=local_version, centre=centre,
                  subcentre=subcentre)
    tables = TableSet.from_definitions(str(DEFINITIONS_ROOT), message(**fields))
    elements, sequences, code_tables = expected_tables(master_version, local_version, centre,
                                                       subcentre)
    check_selection(tables, elements, sequences, code_tables)


@pytest.mark.parametrize("master_version, local_directory", [(37, "1"), (19, "19-1")])
def test_centre_98_local_tables_replace_master_entries(master_version, local_directory):
    local = TABLES / "local" / local_directory / "98" / "0"
    if not local.is_dir():
        pytest.skip(f"{local} absent")
    tables = TableSet.from_definitions(
        str(DEFINITIONS_ROOT), message(master_version=master_version, local_version=1))
    master_only = TableSet.from_definitions(
        str(DEFINITIONS_ROOT), message(master_version=master_version, local_version=0))
    local_elements = read_element_codes(local / "element.table")
    assert local_elements
    assert all(tables.get_element(code).name == name for code, name in local_elements.items())
    added = [code for code in local_elements if master_only.get_element(code) is None]
    assert tables.element_count == master_only.element_count + len(added)
    master_tables = read_code_tables(
        Path(os.path.realpath(TABLES / "wmo" / str(master_version))) / "codetables")
    local_tables = read_code_tables(local / "codetables")
    replaced = [code for code in local_tables
                if master_tables.get(code, {}).keys() - local_tables[code].keys()]
    for code in replaced:
        for raw in master_tables[code].keys() - local_tables[code].keys():
            assert tables.get_meaning(code, raw) is None


def test_a_centre_without_local_tables_gets_the_master_tables():
    if not TABLES.is_dir():
        pytest.skip("ecCodes definitions absent")
    assert not (TABLES / "local" / "1" / "7").exists()
    tables = TableSet.from_definitions(str(DEFINITIONS_ROOT),
                                       message(centre=7, local_version=1))
    check_selection(tables, *expected_tables(37, 0, 7, 0))


def shared_message_files():
    directory = SHARED_DATA / "bufr"
    if not directory.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason="shared data absent"))]
    files = [path for path in sorted(directory.rglob("*")) if path.is_file()
             and path.suffix not in (".json", ".txt", ".md")]
    return [pytest.param(path, id=str(path.relative_to(directory))) for path in files]


@pytest.mark.parametrize("path", shared_message_files())
def test_shared_messages_expand_through_their_tables(path):
    if not TABLES.is_dir():
        pytest.skip("ecCodes definitions absent")
    try:
        messages = parse_all_file(str(path))
    except ValueError:
        pytest.skip("not a readable edition-4 file")
    for parsed in messages:
        assert parsed.master_table_number == 0
        numbers = (parsed.master_tables_version_number, parsed.local_tables_version_number,
                   parsed.originating_centre, parsed.originating_subcentre)
        tables = TableSet.from_definitions(str(DEFINITIONS_ROOT), parsed)
        _, sequences, _ = expected_tables(*numbers)
        codes = parsed.unexpanded_descriptors
        assert module_outcome(tables.expand, codes) == reference_outcome(sequences, codes), numbers
