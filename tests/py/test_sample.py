"""examples/synop.bufr: in step with its generator, and read as intended."""

import importlib.util
import json
import shutil
import subprocess
import sys
from decimal import Decimal
from pathlib import Path

import pytest

from _quorvel import parse_all_file, parse_bytes

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "synop.bufr"


def load_generator():
    spec = importlib.util.spec_from_file_location("make_sample", ROOT / "tools" / "make_sample.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


make_sample = load_generator()


def test_sample_is_what_the_generator_writes():
    assert SAMPLE.read_bytes() == make_sample.sample_bytes()


def test_sample_messages():
    messages = parse_all_file(str(SAMPLE))
    text = (
        "BufrMessage(edition=4, length=70, subsets=1, "
        "descriptors=[301001, 301011, 301012, 301021, 12101])"
    )
    assert [repr(m) for m in messages] == [text, text]
    for message in messages:
        assert message.master_table_number == 0
        assert message.originating_centre == 0
        assert message.data_category == 0
        assert message.master_tables_version_number == 37
        assert (message.typical_year, message.typical_month, message.typical_day) == (2024, 3, 1)
        assert (message.typical_hour, message.typical_minute) == (12, 0)
        assert message.observed_data and not message.compressed_data
        # 117 bits of data: 7+10+12+4+6+5+6+25+26+16.
        assert message.section4_data_length == 15


def test_sample_needs_the_scan():
    with pytest.raises(ValueError, match="^missing BUFR marker$"):
        parse_bytes(SAMPLE.read_bytes())


@pytest.mark.skipif(shutil.which("bufr_dump") is None, reason="ecCodes tools not installed")
def test_ecCodes_reads_the_values_written():
    result = subprocess.run(
        ["bufr_dump", "-jf", str(SAMPLE)], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0 and result.stderr == ""
    subsets = []
    for item in json.loads(result.stdout)["messages"]:
        if item["key"] == "subsetNumber":
            subsets.append({})
        elif "code" in item:
            subsets[-1][int(item["code"])] = Decimal(str(item["value"]))
    assert subsets == [
        {code: Decimal(value) for code, value in report.items()} for report in make_sample.STATIONS
    ]


DEFINITIONS = Path("/usr/share/eccodes/definitions")


@pytest.mark.skipif(not DEFINITIONS.is_dir(), reason="libeccodes-data is not installed")
@pytest.mark.parametrize("form", ["text", "json"])
def test_quorvel_dump_shows_the_values_written(form):
    # What scripts/demo.sh runs, with the tables of Debian's libeccodes-data.
    result = subprocess.run(
        [sys.executable, "-m", "quorvel", "dump", *(["--json"] if form == "json" else []),
         "examples/synop.bufr"],
        capture_output=True, text=True, timeout=120, cwd=ROOT,
    )
    assert (result.returncode, result.stderr) == (0, "")
    if form == "json":
        [record] = json.loads(result.stdout)
        assert [
            {v["descriptor"]: Decimal(str(v["raw_value"])) for v in message["values"]}
            for message in record["messages"]
        ] == make_sample.STATIONS
        return
    messages = result.stdout.split("\n\n")
    assert len(messages) == len(make_sample.STATIONS)
    for message, report in zip(messages, make_sample.STATIONS):
        lines = message.splitlines()[1:]
        assert [line.split()[0] for line in lines] == [f"{code:06d}" for code in report]
        assert lines[-1].endswith(f"  {report[12101]} K")
