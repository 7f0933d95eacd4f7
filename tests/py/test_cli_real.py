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
from conftest import shared_data_path
from quorvel import cli

ROOT = Path(__file__).resolve().parents[2]
DEFINITIONS = Path(cli.DEFAULT_DEFINITIONS)


def run_json(*args):
    result = subprocess.run([sys.executable, "-m", "quorvel", *map(str, args), "--json"],
                            capture_output=True, text=True, timeout=600, cwd=ROOT)
    return result, json.loads(result.stdout)


def message_files() -> list[Path]:
    folder = shared_data_path("bufr")
    return sorted(p for p in folder.rglob("*")
                  if p.is_file() and p.suffix not in (".txt", ".json", ".md"))


def test_ls_agrees_with_the_module_on_every_file():
    files = message_files()
    result, records = run_json("ls", *files)
    assert [r["file"] for r in records] == [str(f) for f in files]
    errors = result.stderr.splitlines()
    failed = False
    for path, record in zip(files, records):
        try:
            expected = _quorvel.parse_all_file(str(path))
        except ValueError as exc:
            failed = True
            mine = [line for line in errors if line.startswith(f"quorvel: {path}: ")]
            assert any(line.endswith(f": {exc}") for line in mine), (path, exc, mine)
            continue
        assert record["error"] is None and len(record["messages"]) == len(expected), path
        data = path.read_bytes()
        for message, parsed in zip(record["messages"], expected):
            header = message["header"]
            assert header["unexpanded_descriptors"] == parsed.unexpanded_descriptors
            assert header["total_length"] == parsed.total_length
            assert header["typical_minute"] == parsed.typical_minute
            offset = message["offset"]
            assert _quorvel.parse_bytes(data[offset:offset + parsed.total_length]).section4_length \
                == parsed.section4_length
    assert failed, "the shared data holds broken files"
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
                assert message["values"] is None and message["error"] == str(exc)
                assert f"quorvel: {path}: message {message['index']}: {exc}" in errors
                continue
            assert message["error"] is None
            assert [(v["descriptor"], v["raw"], v["raw_value"], v["raw_text"], v["raw_meaning"])
                    for v in message["values"]] == [
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
