"""The loaders on published tables: every WMO master version that the Debian
ecCodes data package ships, and the WMO BUFR4 CSV tables (version 45) in the
shared data folder. Each part skips when its tables are not installed."""

import os
import re
from pathlib import Path

import pytest

from _quorvel import TableSet

ECCODES_WMO = Path("/usr/share/eccodes/definitions/bufr/tables/0/wmo")
BUFR4_CSV = Path(__file__).resolve().parents[2].parent / "shared" / "data" / "wmo-bufr4-csv"

needs_eccodes = pytest.mark.skipif(not (ECCODES_WMO / "37").is_dir(),
                                   reason="ecCodes tables not installed (libeccodes-data)")
needs_bufr4 = pytest.mark.skipif(not BUFR4_CSV.is_dir(), reason="shared BUFR4 CSV tables absent")


def master_versions():
    if not ECCODES_WMO.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason="ecCodes tables not installed"))]
    versions = sorted((e for e in os.listdir(ECCODES_WMO) if e.isdigit()), key=int)
    return [pytest.param(ECCODES_WMO / v, id=v) for v in versions]


# White_Space as the code-table format uses it (Python's own str.split also
# splits at U+001C..U+001F, which are not White_Space).
WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006" \
              "\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000"
WORD_BREAK = re.compile("[" + re.escape(WHITE_SPACE) + "]+")


def expected_meanings(path):
    """The meanings a code-table file holds, read independently of the loader."""
    meanings = {}
    for line in path.read_text(encoding="utf-8").split("\n"):
        line = line.strip(WHITE_SPACE)
        if not line or line.startswith("#"):
            continue
        words = WORD_BREAK.split(line)
        if len(words) >= 3:
            meanings[int(words[0])] = " ".join(words[2:])
    return meanings


@needs_eccodes
@pytest.mark.parametrize("directory", master_versions())
def test_every_master_version_loads(directory):
    tables = TableSet.from_eccodes(str(directory))

    lines = (directory / "element.table").read_text(encoding="utf-8").splitlines()
    element_codes = {int(line.split("|")[0]) for line in lines if line and line[0] != "#"}
    assert tables.element_count == len(element_codes)
    for code in element_codes:
        assert tables.get_element(code).code == code

    sequence_text = (directory / "sequence.def").read_text(encoding="utf-8")
    sequence_codes = {int(c) for c in re.findall(r'^\s*"(\d+)"\s*=', sequence_text, re.M)}
    assert tables.sequence_count == len(sequence_codes)

    for table in (directory / "codetables").glob("*.table"):
        code = int(table.name.split(".")[0])
        for raw, meaning in expected_meanings(table).items():
            assert tables.get_meaning(code, raw) == meaning, (table, raw)


@needs_eccodes
def test_version_37_element_012101():
    # element.table, version 37:
    # 012101|airTemperature|double|TEMPERATURE/AIR TEMPERATURE|K|2|0|16|C|2|4
    element = TableSet.from_eccodes(str(ECCODES_WMO / "37")).get_element(12101)
    assert (element.code, element.name, element.unit, element.scale, element.reference,
            element.width, element.element_type, element.abbreviation) == (
        12101, "TEMPERATURE/AIR TEMPERATURE", "K", 2, 0, 16, "double", "airTemperature")
    assert repr(element) == 'ElementDefinition(012101, name="TEMPERATURE/AIR TEMPERATURE")'


@needs_eccodes
@pytest.mark.parametrize(
    "code, raw, meaning",
    [
        (1003, 0, "ANTARCTICA"),
        (1003, 1, "REGION I"),
        (1003, 6, "REGION VI"),
        (1003, 7, "MISSING VALUE"),
        (1003, 8, None),
        (2002, 3, "ORIGINALLY MEASURED IN KM H-1"),
        (2002, 0, None),
        (1001, 0, None),
    ],
)
def test_version_37_meanings(code, raw, meaning):
    tables = TableSet.from_eccodes(str(ECCODES_WMO / "37"))
    assert tables.get_meaning(code, raw) == meaning


@needs_eccodes
def test_version_37_sequence_307080():
    sequence = TableSet.from_eccodes(str(ECCODES_WMO / "37")).get_sequence(307080)
    assert sequence.members == [301090, 302031, 302035, 302036, 302047, 8002, 302048, 302037,
                                302043, 302044, 101002, 302045, 302046]


@needs_bufr4
def test_bufr4_45_counts():
    tables = TableSet.from_bufr4_45(str(BUFR4_CSV))
    assert (tables.element_count, tables.sequence_count) == (1855, 660)
    assert repr(tables) == "TableSet(elements=1855, sequences=660)"
    assert tables.get_meaning(1003, 0) is None


@needs_bufr4
@pytest.mark.parametrize(
    "code, expected",
    [
        # BUFRCREX_TableB_en_12.csv:
        # 12,Temperature,012101,Temperature/air temperature,K,2,0,16,C,2,4,,,Operational
        (12101, (12101, "Temperature/air temperature", "K", 2, 0, 16, "long", "")),
        # BUFRCREX_TableB_en_20.csv:
        # 20,Observed phenomena,020096,"Ice age (""A"" parameter)",dB,2,-4096,13,dB,2,4,,,...
        (20096, (20096, 'Ice age ("A" parameter)', "dB", 2, -4096, 13, "long", "")),
        # BUFRCREX_TableB_en_01.csv:
        # 01,Identification,001003,WMO Region number/geographical area,Code table,0,0,3,...
        (1003, (1003, "WMO Region number/geographical area", "Code table", 0, 0, 3, "code", "")),
        # 01,Identification,001015,Station or site name,CCITT IA5,0,0,160,Character,0,20,...
        (1015, (1015, "Station or site name", "CCITT IA5", 0, 0, 160, "string", "")),
    ],
)
def test_bufr4_45_elements(code, expected):
    element = TableSet.from_bufr4_45(str(BUFR4_CSV)).get_element(code)
    assert (element.code, element.name, element.unit, element.scale, element.reference,
            element.width, element.element_type, element.abbreviation) == expected


@needs_bufr4
@pytest.mark.parametrize(
    "code, members",
    [
        # BUFR_TableD_en_01.csv, rows of 301011: 004001, 004002, 004003.
        (301011, [4001, 4002, 4003]),
        # BUFR_TableD_en_07.csv, rows of 307080.
        (307080, [301090, 302031, 302035, 302036, 302047, 8002, 302048, 302037, 302043,
                  302044, 101002, 302045, 302046]),
    ],
)
def test_bufr4_45_sequences(code, members):
    sequence = TableSet.from_bufr4_45(str(BUFR4_CSV)).get_sequence(code)
    assert sequence.members == members
