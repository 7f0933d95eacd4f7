"""Decoded values checked one by one against ecCodes, run as a black box.

Every edition-4 message of the shared data set (all messages of each file,
outside malformed/ and edition3/) is decoded by the module with the tables
its section 1 names under the Debian ecCodes definitions root, and by
python3-eccodes; eccodes_reference says what is normalised before the two
lists are compared. Small messages from tools/make_large_messages.py are
checked the same way, for layouts the real files lack (compressed texts that
differ between subsets, columns entirely missing, uncompressed subsets with
different replication counts). The edition-3 messages of the edition3/
folders are read through `quorvel.read_messages` and checked the same way,
their headers against ecCodes' keys too.

Messages the two decoders cannot agree on are listed below with the reason;
each is an expected failure (strict), so a change in either decoder shows.
Skips when python3-eccodes, the definitions root or the shared data are
absent.
"""

from __future__ import annotations

import importlib.util
import sys
from pathlib import Path

import pytest

from _quorvel import decode_values_with_definitions
from conftest import SHARED_DATA, shared_data_path
from eccodes_reference import (EccodesFailure, differences, eccodes_available,
                               eccodes_values, edition, our_values, split_messages)
from test_expansion_support import DEFINITIONS_ROOT, definitions_path

pytestmark = pytest.mark.skipif(not eccodes_available(), reason="python3-eccodes not installed")

NOT_MESSAGES = (".json", ".txt")
SKIPPED_FOLDERS = {"malformed", "edition3"}
TOOL = Path(__file__).resolve().parents[2] / "tools" / "make_large_messages.py"


def missing_element(code):
    return f"descriptor {code:06} was not found in Table B"


def out_of_bits(position, width, available):
    return f"csv/table parse error: not enough bits while reading section 4 at bit {position} " \
           f"for width {width} ({available} bits available)"


# (file under bufr/, message index): (text of our ValueError, why).
REFUSED = {
    ("dballe/arpa-station.bufr", 0): (
        missing_element(1194),
        "local descriptors of centre 200 (local tables 1); Debian ships no tables for that "
        "centre, and ecCodes fails on them too"),
    ("open-radar-data/RMA1_0301_02_CM_20181111T000457Z.BUFR", 0): (
        "descriptor 321204 was not found in Table D",
        "local sequences of centre 41 (local tables 2), not shipped; ecCodes fails too"),
    ("wreport/ed4date.bufr", 0): (
        missing_element(1212),
        "ECMWF local descriptors of local tables 102, not shipped; ecCodes fails too"),
    ("wreport/ed4date.bufr", 1): (
        missing_element(1212),
        "ECMWF local descriptors of local tables 102, not shipped; ecCodes fails too"),
    ("pybufrkit/jason2.bufr", 0): (
        out_of_bits(540114, 16, 540120),
        "the data do not fit 3-40-010 of master tables 16 as Debian ships them: both "
        "decoders reach the last 6 bits with a field left to read"),
}

# (file under bufr/, message index): why ecCodes cannot decode a message we
# decode; test_messages_real checks these against another decoder's dump.
ECCODES_FAILS = {
    ("geo-bufr/delayed_repetition.bufr", 0):
        "0 31 011 (delayed repetition) sends the group's data once; ecCodes reads them three "
        "times and runs out of bits",
    ("geo-bufr/delayed_repetition_compressed.bufr", 0):
        "0 31 011 (delayed repetition) sends the group's data once; ecCodes reads them three "
        "times and runs out of bits",
}

# (file under bufr/, message index): the error ecCodes prints and then reads
# on from, because we read the same way.
TOLERATED = {
    # A JMA local element the tables lack, announced by 2-06-008: both
    # decoders step over its 8 bits and give them as an unscaled number.
    ("eccodes-python/rwp_jma.bufr", 0): "unable to get descriptor 025192 from table",
}

# (file under bufr/, message index): why the values differ.
DIFFERING = {
    ("geo-bufr/edition3/substituted.bufr", 0): (
        "its bitmap (0 31 031 after 2 22 000) has no 2 36 000 before it, so our 2 23 255 "
        "markers refer to nothing; ecCodes takes that bitmap and reads 20 substituted values"),
}


def message_files():
    root = SHARED_DATA / "bufr"
    if not root.is_dir():
        return []
    return sorted(path for path in root.rglob("*")
                  if path.is_file() and not path.name.endswith(NOT_MESSAGES)
                  and not SKIPPED_FOLDERS & set(path.relative_to(root).parts))


def message_cases():
    root = SHARED_DATA / "bufr"
    cases = []
    for path in message_files():
        name = path.relative_to(root).as_posix()
        for index, message in enumerate(split_messages(path.read_bytes())):
            if edition(message) != 4:
                continue
            key = (name, index)
            marks = ()
            if key in REFUSED:
                marks = pytest.mark.xfail(raises=ValueError, strict=True, reason=REFUSED[key][1])
            elif key in ECCODES_FAILS:
                marks = pytest.mark.xfail(raises=EccodesFailure, strict=True,
                                          reason=ECCODES_FAILS[key])
            elif key in DIFFERING:
                marks = pytest.mark.xfail(raises=AssertionError, strict=True,
                                          reason=DIFFERING[key])
            cases.append(pytest.param(name, index, id=f"{name}#{index}", marks=marks))
    if not cases:
        return [pytest.param(None, None, marks=pytest.mark.skip(reason="no shared data"))]
    return cases


def shared_message(name, index):
    return split_messages(shared_data_path("bufr", name).read_bytes())[index]


def assert_agrees(message, tolerated=()):
    ours = our_values(decode_values_with_definitions(message, str(DEFINITIONS_ROOT)))
    reference = eccodes_values(message, tolerated)
    found = differences(ours, reference)
    assert not found, f"{len(ours)} values, ecCodes {len(reference.numbers)}:\n" + \
        "\n".join(str(difference) for difference in found)


@pytest.mark.parametrize("name, index", message_cases())
def test_values_agree_with_eccodes(name, index):
    definitions_path("bufr", "tables")
    tolerated = [TOLERATED[name, index]] if (name, index) in TOLERATED else []
    assert_agrees(shared_message(name, index), tolerated)


@pytest.mark.parametrize("name, index", sorted(REFUSED),
                         ids=[f"{name}#{index}" for name, index in sorted(REFUSED)])
def test_refusal_names_its_cause(name, index):
    definitions_path("bufr", "tables")
    message = shared_message(name, index)
    with pytest.raises(ValueError) as info:
        decode_values_with_definitions(message, str(DEFINITIONS_ROOT))
    assert str(info.value) == REFUSED[(name, index)][0]


def test_every_listed_message_exists():
    """A renamed or removed file must not leave a stale entry behind."""
    shared_data_path("bufr")
    cases = {(p.values[0], p.values[1]) for p in [*message_cases(), *earlier_edition_cases()]}
    assert set(REFUSED) | set(DIFFERING) | set(TOLERATED) | set(ECCODES_FAILS) <= cases


@pytest.fixture(scope="module")
def generated():
    pytest.importorskip("numpy")
    tables = definitions_path("bufr", "tables", "0", "wmo", "37")
    found = importlib.util.spec_from_file_location("make_large_messages", TOOL)
    tool = importlib.util.module_from_spec(found)
    sys.modules[found.name] = tool  # its dataclasses look their module up
    found.loader.exec_module(tool)
    return tool.make_all(tool.Tables(tables), seed=7, scale=0.005)


@pytest.mark.parametrize("name", ["synop_uncompressed.bufr", "sounding_uncompressed.bufr",
                                  "radiance_compressed.bufr", "scatter_compressed.bufr"])
def test_generated_message_agrees_with_eccodes(generated, name):
    message, subsets, values = generated[name]
    assert len(decode_values_with_definitions(message, str(DEFINITIONS_ROOT))) == values
    assert_agrees(message)



# ---- Editions 2 and 3, read through read_messages ---------------------------------------

EARLIER_EDITIONS = ("pybufrkit/edition3/syno_1.bufr", "geo-bufr/edition3/substituted.bufr")

# ecCodes key: our header attribute. Edition 3 has no international
# sub-category and no seconds; ecCodes knows no such keys for it.
HEADER_KEYS = {
    "edition": "edition",
    "masterTableNumber": "master_table_number",
    "bufrHeaderCentre": "originating_centre",
    "bufrHeaderSubCentre": "originating_subcentre",
    "updateSequenceNumber": "update_sequence_number",
    "dataCategory": "data_category",
    "dataSubCategory": "local_data_subcategory",
    "masterTablesVersionNumber": "master_tables_version_number",
    "localTablesVersionNumber": "local_tables_version_number",
    "typicalYear": "typical_year",
    "typicalMonth": "typical_month",
    "typicalDay": "typical_day",
    "typicalHour": "typical_hour",
    "typicalMinute": "typical_minute",
    "numberOfSubsets": "number_of_subsets",
    "compressedData": "compressed_data",
    "observedData": "observed_data",
}


def earlier_edition_cases():
    root = SHARED_DATA / "bufr"
    cases = [pytest.param(name, index, id=f"{name}#{index}",
                          marks=[pytest.mark.xfail(raises=AssertionError, strict=True,
                                                   reason=DIFFERING[name, index])]
                          if (name, index) in DIFFERING else [])
             for name in EARLIER_EDITIONS if (root / name).is_file()
             for index, _ in enumerate(split_messages((root / name).read_bytes()))]
    return cases or [pytest.param(None, None, marks=pytest.mark.skip(reason="no shared data"))]


@pytest.mark.parametrize("name, index", earlier_edition_cases())
def test_earlier_edition_agrees_with_eccodes(name, index):
    import eccodes
    import quorvel

    definitions_path("bufr", "tables")
    messages = list(quorvel.read_messages(shared_data_path("bufr", name),
                                          definitions=str(DEFINITIONS_ROOT)))
    message = messages[index]
    assert message.edition < 4
    octets = bytes(message.data)
    handle = eccodes.codes_new_from_message(octets)
    try:
        header = {key: eccodes.codes_get(handle, key) for key in HEADER_KEYS}
    finally:
        eccodes.codes_release(handle)
    assert {HEADER_KEYS[key]: value for key, value in header.items()} == \
        {attribute: int(getattr(message, attribute)) for attribute in HEADER_KEYS.values()}
    ours = our_values(message.decode().values)
    found = differences(ours, eccodes_values(octets))
    assert not found, "\n".join(str(difference) for difference in found)
