"""The command line on the real files kept beside the repository: it finds the
messages the module finds, decodes each with the tables its header names, and
reports every failure while reading the rest of the run."""

from __future__ import annotations

import json
import subprocess
import sys
from pathlib import Path

import pytest

import _quorvel
import quorvel
from conftest import shared_data_path
from quorvel import cli
from quorvel._reading import DEBIAN_DEFINITIONS

ROOT = Path(__file__).resolve().parents[2]
DEFINITIONS = Path(DEBIAN_DEFINITIONS)


def run_json(*args):
    result = subprocess.run([sys.executable, "-m", "quorvel", *map(str, args), "--json"],
                            capture_output=True, text=True, timeout=600, cwd=ROOT)
    return result, json.loads(result.stdout)


def message_files() -> list[Path]:
    folder = shared_data_path("bufr")
    return sorted(p for p in folder.rglob("*")
                  if p.is_file() and p.suffix not in (".txt", ".json", ".md"))


# Files ecCodes refuses to count: the three end inside their first message
# (we say where the reading stopped), and ecCodes will not skip over an
# edition it does not know, which we list as a message that fails.
ECCODES_REFUSES = {"BUFRBUFR.bufr": 0, "short_truncated_temp_synop.bufr": 0, "short3.bufr": 0,
                   "bad-edition.bufr": 1}


def test_ls_agrees_with_the_reader_and_counts_as_eccodes_does():
    eccodes = pytest.importorskip("eccodes")
    files = message_files()
    result, records = run_json("ls", *files)
    assert [r["file"] for r in records] == [str(f) for f in files]
    errors = result.stderr.splitlines()
    for path, record in zip(files, records):
        outcomes = list(quorvel.read_messages(path, on_error="skip"))
        listed = [m for m in record["messages"] if m["header"] is not None]
        assert [(m["offset"], m["header"]["unexpanded_descriptors"]) for m in listed] == \
            [(m.offset, m.unexpanded_descriptors) for m in outcomes], path
        for message in record["messages"]:
            if message["error"] is not None:
                assert f"quorvel: {path}: message {message['index']}: {message['error']}" \
                    in errors
        if path.name in ECCODES_REFUSES:
            assert len(record["messages"]) == ECCODES_REFUSES[path.name]
        else:
            with open(path, "rb") as file:
                assert len(record["messages"]) == eccodes.codes_count_in_file(file), path
    assert result.returncode == 1


# Small enough to decode in full: several messages behind headings, local
# tables, associated fields, compression, and Debian's unreadable local tables.
DUMPED = [
    "pybufrkit/ISMD01_OKPR.bufr",
    "pdbufr/Z__C_EDZW_20210516120400_bda01_synop_bufr_GER_MW_466.bufr",
    "pdbufr/synop_wigos.bufr",
    "wreport/C04004.bufr",
    "wreport/ed4date.bufr",
    "eccodes-python/sral_sentinel_3a.bufr",
    "wis2box/WIGOS_multi-message.bufr4",
]


@pytest.mark.skipif(not DEFINITIONS.is_dir(), reason="libeccodes-data is not installed")
def dumped_values(message):
    """The values of a dumped message in decoding order, compressed ones
    taken apart from their columns."""
    if message.get("columns") is None:
        return message["values"]
    columns = message["columns"]
    return [{key: value[subset] if isinstance(value, list) else value
             for key, value in column.items() if key != "subsets"}
            for subset in range(max(c["subsets"][1] for c in columns))
            for column in columns if subset < column["subsets"][1]]


def test_dump_decodes_each_message_with_the_tables_it_names():
    files = [shared_data_path("bufr", name) for name in DUMPED]
    result, records = run_json("dump", *files)
    errors = result.stderr.splitlines()
    seen_failures = 0
    for path, record in zip(files, records):
        data = path.read_bytes()
        for message in record["messages"]:
            one = data[message["offset"]:message["offset"] + message["header"]["total_length"]]
            try:
                expected = _quorvel.decode_values_with_definitions(one, str(DEFINITIONS))
            except ValueError as exc:
                seen_failures += 1
                assert message["values"] is None and message["error"].startswith(str(exc))
                assert f"quorvel: {path}: message {message['index']}: {message['error']}" \
                    in errors
                continue
            assert message["error"] is None
            assert [(v["descriptor"], v["raw"], v["raw_value"], v["raw_text"], v["raw_meaning"])
                    for v in dumped_values(message)] == [
                (v.descriptor, v.raw, v.raw_value, v.raw_text, v.raw_meaning) for v in expected]
    assert len(errors) == seen_failures > 0
    assert result.returncode == 1


def test_dump_with_the_wmo_csv_tables():
    csv = shared_data_path("wmo-bufr4-csv")
    path = shared_data_path("bufr", "eccodes-python", "synop_multi_subset.bufr")
    result, [record] = run_json("dump", "--bufr4", csv, path)
    assert (result.returncode, result.stderr) == (0, "")
    tables = _quorvel.TableSet.from_bufr4_45(str(csv))
    expected = _quorvel.decode_values_with_tables(path.read_bytes(), tables)
    [message] = record["messages"]
    assert [(v["descriptor"], v["raw_value"], v["unit"]) for v in message["values"]] == [
        (v.descriptor, v.raw_value, tables.get_element(v.descriptor).unit) for v in expected]
    assert {v["unit"] for v in message["values"] if v["descriptor"] == 12101} == {"K"}


SHOWN_KEYS = ["edition", "bufrHeaderCentre", "bufrHeaderSubCentre", "dataCategory",
              "masterTablesVersionNumber", "localTablesVersionNumber", "typicalDate",
              "typicalTime", "numberOfSubsets", "compressedData", "totalLength"]


def eccodes_keys(eccodes, handle):
    found = {}
    for key in SHOWN_KEYS:
        try:
            found[key] = (eccodes.codes_get_string(handle, key) if key.startswith("typical")
                          else str(eccodes.codes_get(handle, key, ktype=int)))
        except eccodes.KeyValueNotFoundError:
            pass
    return found


def test_ls_prints_keys_as_eccodes_gives_them():
    eccodes = pytest.importorskip("eccodes")
    files = [f for f in message_files() if f.name not in ECCODES_REFUSES]
    _, records = run_json("ls", "-p", ",".join(SHOWN_KEYS), *files)
    compared = 0
    for path, record in zip(files, records):
        if any(m["error"] is not None for m in record["messages"]):
            continue  # messages we refuse have no keys to compare
        compared += 1
        expected = []
        with open(path, "rb") as file:
            while (handle := eccodes.codes_bufr_new_from_file(file)) is not None:
                try:
                    expected.append(eccodes_keys(eccodes, handle))
                finally:
                    eccodes.codes_release(handle)
        # Edition 2 has no typical date and time for ecCodes.
        assert [{k: v for k, v in m["keys"].items() if k in e}
                for m, e in zip(record["messages"], expected)] == expected, path
        assert len(record["messages"]) == len(expected), path
    assert compared > 40
