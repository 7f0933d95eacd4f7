"""The published BUFR files of the shared data folder: edition-4 files parse
with the message counts that ecCodes' bufr_count reports for them, and the
files kept for their faults are refused with the fault the rules name.

Skips when the shared data folder is absent.
"""

import pytest

from _quorvel import parse_all_bytes, parse_all_file, parse_file
from conftest import shared_data_path

# Path under bufr/: (messages, first unexpanded descriptors of message 1 as
# listed, number of unexpanded descriptors of message 1), from the data
# folder's manifest (bufr_count and bufr_filter output).
EDITION4 = {
    "pybufrkit/IUSK73_AMMC_182300.bufr": (1, [309052, 1081, 1082, 2067, 2095, 2096], 11),
    "pybufrkit/ISMD01_OKPR.bufr": (4, [307080], 1),
    "pybufrkit/uegabe.bufr": (1, [204004, 31021, 309052, 204000, 101000, 31001], 7),
    "pybufrkit/contrived.bufr": (1, [301001, 105002, 102000, 31001, 8002, 20011], 9),
    "pybufrkit/ncep.352.bufr": (1, [310014, 222000, 236000, 101103, 31031, 1031], 39),
    "pybufrkit/mpco_217.bufr": (1, [1211, 310022, 301011, 301013, 301021, 102004], 66),
    "pybufrkit/g2nd_208.bufr": (1, [1211, 310022, 301011, 301013, 301021, 102004], 38),
    "pybufrkit/sentinel1.bufr": (1, [1007, 2019, 1096, 25061, 5071, 5072], 70),
    "pybufrkit/aaen_55.bufr": (4, [310008], 1),
    "pybufrkit/jason2.bufr": (1, [340010], 1),
    "pybufrkit/ISND02_LLBD.bufr": (1, [203014, 7030, 7031, 203255, 301150, 307080], 6),
    "pdbufr/tropical_cyclone.bufr": (3, [1033, 1034, 1032, 1025, 1027, 1090], 30),
    "pdbufr/synop_wigos.bufr": (3, [307092], 1),
    "pdbufr/wave_uncompressed.bufr": (1, [308015], 1),
    "pdbufr/Z__C_EDZW_20210516120400_bda01_synop_bufr_GER_MW_466.bufr": (44, [307086, 1023, 4025, 2177, 101000, 31001], 76),
    "eccodes-python/aura-omi-ak.bufr": (1, [1211, 310022, 301011, 301013, 301021, 102004], 53),
    "eccodes-python/rwp_jma.bufr": (1, [1001, 1002, 5002, 6002, 7001, 2003], 24),
    "eccodes-python/sral_sentinel_3a.bufr": (1, [1007, 2019, 5044, 1096, 5040, 1040], 177),
    "eccodes-python/synop_multi_subset.bufr": (1, [307079, 4025, 11042], 3),
    "wreport/new-003.bufr": (1, [301001, 2001, 301011, 301012, 301024, 2003], 37),
    "wreport/C08022.bufr": (1, [208022, 307080, 208000], 3),
    "wreport/C04004.bufr": (1, [1018, 301090, 204004, 31021, 302031, 302035], 25),
    "wreport/ed4date.bufr": (2, [1019, 1212, 1213, 1214, 1215, 1216], 21),
    "wreport/bitmap-B33035.bufr": (1, [310014, 222000, 236000, 101103, 31031, 1031], 57),
    "wreport/atms1.bufr": (1, [310061], 1),
    "wreport/ascat1.bufr": (1, [312061], 1),
    "wreport/ed4-compr-string.bufr": (1, [307080], 1),
    "wreport/ed4-empty.bufr": (1, [307080], 1),
    "wreport/truncated-unicode.bufr": (1, [1019], 1),
    "wreport/wigos.bufr": (1, [203014, 7030, 7031, 203255, 301150, 307080], 6),
    "wreport/issue59.bufr": (1, [310026], 1),
    "wreport/MODE_12.bufr": (1, [311010, 25061, 1015, 1022, 1065, 33002], 6),
    "geo-bufr/retained.bufr": (1, [309052, 232000, 236000, 101000, 31002, 31031], 13),
    "geo-bufr/delayed_repetition.bufr": (1, [102000, 31011, 30001, 30002, 1001], 5),
    "geo-bufr/delayed_repetition_compressed.bufr": (1, [102000, 31011, 30001, 30002, 1001], 5),
    "geo-bufr/1xBUFRSYNOP-ed4.bufr": (1, [307080], 1),
    "dballe/vad.bufr": (25, [1033, 1034, 301001, 301011, 301012, 301022], 18),
    "dballe/gts-acars1.bufr": (1, [1033, 1034, 311005, 8004, 2064, 13003], 26),
    "dballe/issue75.bufr": (5, [309007, 222000, 101000, 31002, 31031, 1031], 10),
    "dballe/arpa-station.bufr": (1, [1194, 7192, 1192, 5001, 6001], 5),
    "wis2box/WIGOS_0-20000-0-48698_20240301T140000-578.bin": (1, [301031, 321021, 25020, 25021, 8021, 4025], 9),
    "wis2box/A_ISSA05LFPW111700RRA_C_EDZW_20240211170705_50982396.bin": (1, [308009], 1),
    "wis2box/A_IOBH03LFPW161000_C_EDZW_20240216112202_27622614.bin": (1, [315008], 1),
    "wis2box/WIGOS_multi-message.bufr4": (10, [307080], 1),
    "wis2box/A_ISMD02LIIB201200_C_EDZW_20220320120604_11413047.bin": (1, [307086], 1),
    "csv2bufr/d0464c97a88ea99f119e87629844c5dd.bufr4": (1, [301150, 301011, 301012, 301021, 7031, 302001], 6),
    "csv2bufr/0-454-2-awsbalaka_2021-11-18_0955.bufr": (1, [301150, 307080], 2),
    "open-radar-data/RMA1_0301_02_CM_20181111T000457Z.BUFR": (1, [321204, 301031, 321203], 3),
    "pybufrkit/IUSK73_AMMC_040000.bufr": (1, [309052, 1081, 1082, 2067, 2095, 2096], 11),
    "pybufrkit/mhen_55.bufr": (1, [310008], 1),
}

SECTION0_AT_START = "section 0 at offset 0 is truncated"


def edition_error(edition):
    return f"unsupported BUFR edition {edition}; only edition 4 is implemented"


REFUSED = {
    "pybufrkit/edition3/syno_1.bufr": edition_error(3),
    "geo-bufr/edition3/substituted.bufr": edition_error(3),
    "wreport/malformed/ed2radar.bufr": edition_error(2),
    "wreport/malformed/bad-edition.bufr": edition_error(102),
    # 13 octets that declare a 655-octet message.
    "wreport/malformed/short3.bufr": SECTION0_AT_START,
    # A stray "BUFR" right before a real message: the real marker's letters
    # "BUF" are read as the stray one's length, 0x425546, far past the end.
    "geo-bufr/malformed/BUFRBUFR.bufr": SECTION0_AT_START,
    # The first message declares 721 octets; the file holds 346, the last 225
    # of which are a complete second message.
    "geo-bufr/malformed/short_truncated_temp_synop.bufr": SECTION0_AT_START,
    # Section 1 declares 6 octets, so section 2 (flags octet 0x80) starts at
    # 14; it declares length 0, and section 3 read at 14 declares length 0.
    "wreport/malformed/afl-src01flip1-pos10.bufr": "section 3 at offset 14 is truncated",
}

# Outputs of other programs kept beside the messages.
NOT_MESSAGES = (".json", ".txt")


@pytest.mark.parametrize("name", sorted(EDITION4))
def test_edition4_file_parses(name):
    path = shared_data_path("bufr", name)
    count, first_descriptors, descriptor_count = EDITION4[name]
    messages = parse_all_file(str(path))
    assert len(messages) == count
    assert all(m.edition == 4 for m in messages)
    descriptors = messages[0].unexpanded_descriptors
    assert descriptors[: len(first_descriptors)] == first_descriptors
    assert len(descriptors) == descriptor_count


@pytest.mark.parametrize("name", sorted(EDITION4))
def test_file_and_bytes_agree(name):
    path = shared_data_path("bufr", name)
    from_file = parse_all_file(str(path))
    from_bytes = parse_all_bytes(path.read_bytes())
    assert [repr(m) for m in from_file] == [repr(m) for m in from_bytes]
    offsets = [m.section4_data_offset for m in from_file]
    assert offsets == [m.section4_data_offset for m in from_bytes]


@pytest.mark.parametrize("name", sorted(EDITION4))
def test_parse_file_takes_only_a_bare_single_message(name):
    path = shared_data_path("bufr", name)
    data = path.read_bytes()
    messages = parse_all_file(str(path))
    if len(messages) == 1 and data.startswith(b"BUFR") and messages[0].total_length == len(data):
        assert repr(parse_file(str(path))) == repr(messages[0])
        return
    # Octets before the message, or more than one message: not one message alone.
    with pytest.raises(ValueError):
        parse_file(str(path))


@pytest.mark.parametrize("name", sorted(REFUSED))
def test_faulty_file_is_refused(name):
    path = shared_data_path("bufr", name)
    with pytest.raises(ValueError) as info:
        parse_all_file(str(path))
    assert str(info.value) == REFUSED[name]


def test_every_message_file_is_covered():
    root = shared_data_path("bufr")
    found = {
        str(path.relative_to(root))
        for path in root.rglob("*")
        if path.is_file() and not path.name.endswith(NOT_MESSAGES)
    }
    assert found == set(EDITION4) | set(REFUSED)


# ---- Delayed data repetition, which ecCodes cannot decode ----------------------------

def geo_bufr_subsets(path):
    """Each subset of a Geo::BUFR text dump as (descriptor, number or None) pairs."""
    subsets = []
    for line in path.read_text().splitlines():
        if line.startswith("Subset "):
            subsets.append([])
        fields = line.split()
        if subsets and len(fields) >= 3 and fields[0].isdigit() and len(fields[1]) == 6:
            subsets[-1].append((int(fields[1]), None if fields[2] == "missing" else float(fields[2])))
    return subsets


@pytest.mark.parametrize("name", ["delayed_repetition", "delayed_repetition_compressed"])
def test_delayed_data_repetition_agrees_with_geo_bufr(name):
    """0 31 011 sends the group's data once and repeats them: the values
    equal those of Geo::BUFR's dump, subset by subset."""
    import quorvel

    from test_expansion_support import definitions_path

    definitions_path("bufr", "tables")
    expected = geo_bufr_subsets(shared_data_path("bufr", "geo-bufr", f"{name}.geo-bufr.txt"))
    (message,) = quorvel.read_messages(shared_data_path("bufr", "geo-bufr", f"{name}.bufr"))
    ours = [[(value.descriptor, value.raw_value) for value in subset]
            for subset in message.decode().subsets]
    assert ours == expected


def test_a_missing_local_descriptor_names_the_tables_tried():
    """arpa-station's local descriptors (001194 first) have no 2-06 width and
    are in no installed table: the decode stops there, naming them."""
    import quorvel

    from test_expansion_support import definitions_path

    tables = definitions_path("bufr", "tables", "0")
    (message,) = quorvel.read_messages(shared_data_path("bufr", "dballe", "arpa-station.bufr"))
    with pytest.raises(quorvel.MessageError) as caught:
        message.decode()
    error = caught.value
    assert (error.reason, error.descriptor) == ("descriptor 001194 was not found in Table B", 1194)
    assert error.tables == (str(tables / "wmo" / "14"), str(tables / "local" / "1" / "200" / "0"))
