"""TableSet.from_bufr4_45 on small directories of WMO BUFR4 CSV files: which
files are read, the Table B and Table D columns, precedence, exact errors."""

import os

import pytest

from _quorvel import TableSet

B_HEADER = ("ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,"
            "BUFR_ReferenceValue,BUFR_DataWidth_Bits,CREX_Unit,CREX_Scale,"
            "CREX_DataWidth_Char,Note_en,noteIDs,Status\n")
D_HEADER = ("Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2,ElementName_en,"
            "ElementDescription_en,Note_en,noteIDs,Status\n")


def b_row(code="012101", name="TEMPERATURE", unit="K", scale="2", reference="0", width="16"):
    return ",".join(["12", "Temperature", code, name, unit, scale, reference, width, "C", "2",
                     "4", "", "", "Operational"]) + "\n"


def d_row(sequence, member, title="(Title)"):
    return ",".join(["01", "Location", sequence, title, "", member, "Name", "", "", "",
                     "Operational"]) + "\n"


def write_files(directory, files):
    directory.mkdir(parents=True, exist_ok=True)
    for name, content in files.items():
        data = content.encode() if isinstance(content, str) else content
        (directory / name).write_bytes(data)
    return str(directory)


def load(directory, files):
    return TableSet.from_bufr4_45(write_files(directory, files))


def load_error(directory, files):
    with pytest.raises(ValueError) as caught:
        load(directory, files)
    return str(caught.value)


def element_fields(element):
    return (element.code, element.name, element.unit, element.element_type, element.scale,
            element.reference, element.width, element.abbreviation)


# ---- Which files ---------------------------------------------------------------------

@pytest.mark.parametrize(
    "files",
    [
        {},
        {"README.md": "x", "BUFRCREX_CodeFlag_en_01.csv": "x\xff", "BUFR_TableA_en.csv": "x"},
        {"element.table": "001001|a|long|N|U|0|0|7\n", "sequence.def": "300002 = [ 2 ]\n"},
    ],
    ids=["empty", "other-files", "eccodes-files"],
)
def test_directory_without_table_files_is_empty(tmp_path, files):
    tables = load(tmp_path, files)
    assert repr(tables) == "TableSet(elements=0, sequences=0)"
    assert tables.get_meaning(1003, 0) is None


@pytest.mark.parametrize(
    "name, read",
    [
        ("BUFRCREX_TableB_en_12.csv", True),
        ("BUFRCREX_TableB_en_.csv", True),
        ("BUFRCREX_TableB_en_anything at all.csv", True),
        ("BUFRCREX_TableB_en_12.CSV", False),
        ("bufrcrex_TableB_en_12.csv", False),
        ("BUFRCREX_TableB_en_12.csv.orig", False),
        ("BUFRCREX_TableB_en_12.tsv", False),
        ("xBUFRCREX_TableB_en_12.csv", False),
        ("BUFR_TableB_en_12.csv", False),
    ],
)
def test_table_b_file_names(tmp_path, name, read):
    tables = load(tmp_path, {name: B_HEADER + b_row()})
    assert tables.element_count == (1 if read else 0)


@pytest.mark.parametrize(
    "name, read",
    [
        ("BUFR_TableD_en_07.csv", True),
        ("BUFR_TableD_en_.csv", True),
        ("BUFR_TableD_en_07.CSV", False),
        ("BUFR_tableD_en_07.csv", False),
        ("BUFRCREX_TableD_en_07.csv", False),
    ],
)
def test_table_d_file_names(tmp_path, name, read):
    tables = load(tmp_path, {name: D_HEADER + d_row("301011", "004001")})
    assert tables.sequence_count == (1 if read else 0)


def test_subdirectories_are_not_entered(tmp_path):
    write_files(tmp_path / "sub", {"BUFRCREX_TableB_en_01.csv": B_HEADER + b_row()})
    assert load(tmp_path, {}).element_count == 0


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda p: str(p / "absent"), "io error: No such file or directory (os error 2)"),
        (lambda p: write_files(p, {"f": ""}) + "/f", "io error: Not a directory (os error 20)"),
        (lambda p: (os.mkdir(p / "BUFRCREX_TableB_en_01.csv"), str(p))[1],
         "csv/table parse error: Is a directory (os error 21)"),
        (lambda p: (os.mkdir(p / "BUFR_TableD_en_01.csv"), str(p))[1],
         "csv/table parse error: Is a directory (os error 21)"),
        (lambda p: (os.symlink(p / "nowhere", p / "BUFR_TableD_en_01.csv"), str(p))[1],
         "csv/table parse error: No such file or directory (os error 2)"),
    ],
    ids=["missing", "file", "table-b-is-directory", "table-d-is-directory", "dangling-link"],
)
def test_file_system_failures(tmp_path, make, message):
    with pytest.raises(ValueError) as caught:
        TableSet.from_bufr4_45(make(tmp_path))
    assert str(caught.value) == message


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads files without permission")
def test_unreadable_file_is_reported_through_the_csv_wrapper(tmp_path):
    directory = write_files(tmp_path, {"BUFRCREX_TableB_en_01.csv": B_HEADER + b_row()})
    (tmp_path / "BUFRCREX_TableB_en_01.csv").chmod(0)
    with pytest.raises(ValueError) as caught:
        TableSet.from_bufr4_45(directory)
    assert str(caught.value) == "csv/table parse error: Permission denied (os error 13)"


# ---- Table B --------------------------------------------------------------------------------

def test_table_b_row(tmp_path):
    tables = load(tmp_path, {"BUFRCREX_TableB_en_12.csv": B_HEADER + b_row()})
    assert element_fields(tables.get_element(12101)) == (
        12101, "TEMPERATURE", "K", "long", 2, 0, 16, "")


@pytest.mark.parametrize(
    "unit, element_type",
    [
        ("Code table", "code"),
        ("Flag table", "flags"),
        ("CCITT IA5", "string"),
        ("code table", "long"),
        ("Code Table", "long"),
        ("Numeric", "long"),
        ("CCITT IA5 ", "long"),
        (" Flag table", "long"),
        ('"Code table"', "code"),  # a quoted CSV field; the quotes are not part of it
        ("", "long"),
    ],
)
def test_element_type_follows_the_unit(tmp_path, unit, element_type):
    element = load(tmp_path, {"BUFRCREX_TableB_en_01.csv": B_HEADER + b_row(unit=unit)}
                   ).get_element(12101)
    assert element.element_type == element_type
    assert element.unit == unit.strip('"')


def test_texts_and_quoting(tmp_path):
    content = (B_HEADER
               + b_row(code='" 012101"', name='"Ice age (""A"" parameter), ok"', unit=" dB ",
                       scale="2", reference="-4096", width="13"))
    element = load(tmp_path, {"BUFRCREX_TableB_en_20.csv": content}).get_element(12101)
    assert element_fields(element) == (
        12101, 'Ice age ("A" parameter), ok', " dB ", "long", 2, -4096, 13, "")


@pytest.mark.parametrize(
    "content, codes",
    [
        (B_HEADER + b_row("001001") + b_row("001002"), [1001, 1002]),
        # A first line that is data is skipped like any header.
        (b_row("001001") + b_row("001002"), [1002]),
        # '#' is data here.
        (B_HEADER + "#" + b_row("001001") + b_row("001002"), [1001, 1002]),
        (B_HEADER.replace("\n", "\r\n") + "\r\n\n" + b_row("001001").replace("\n", "\r\n"),
         [1001]),
        (B_HEADER.replace("\n", "\r") + b_row("001001").replace("\n", "\r"), [1001]),
        ("\ufeff" + B_HEADER + b_row("001001").rstrip("\n"), [1001]),
        # Records must match the header; a header of 7 fields makes every record short.
        ("a,b,c,d,e,f,g\n1,2,001001,4,5,6,7\n", []),
        # Only the header is exempt from the UTF-8 check.
        (B_HEADER.replace("ClassNo", "Class\xffNo").encode("latin-1")
         + b_row("001001").encode(), [1001]),
    ],
    ids=["two-rows", "no-header", "hash-is-data", "crlf-blank-lines", "cr", "bom-no-newline",
         "short-header", "header-not-utf8"],
)
def test_table_b_records(tmp_path, content, codes):
    tables = load(tmp_path, {"BUFRCREX_TableB_en_01.csv": content})
    assert tables.element_count == len(codes)
    for code in codes:
        assert tables.get_element(code).code == code


@pytest.mark.parametrize(
    "fields, message",
    [
        ({"code": " 012101"}, None),
        ({"code": "012101 "}, None),
        ({"width": " 16"}, 'bad u16 " 16": invalid digit found in string'),
        ({"width": "65536"}, 'bad u16 "65536": number too large to fit in target type'),
        ({"reference": ""}, 'bad i64 "": cannot parse integer from empty string'),
        ({"reference": "-9223372036854775809"},
         'bad i64 "-9223372036854775809": number too small to fit in target type'),
        ({"scale": "2147483648"}, 'bad i32 "2147483648": number too large to fit in target type'),
        ({"scale": "1e2"}, 'bad i32 "1e2": invalid digit found in string'),
        ({"code": "0-12-101"}, 'bad descriptor code "0-12-101": invalid digit found in string'),
        ({"code": ""}, 'bad descriptor code "": cannot parse integer from empty string'),
        # The first failing column in the order code, scale, reference, width wins.
        ({"code": "x", "scale": "y", "reference": "z", "width": "w"},
         'bad descriptor code "x": invalid digit found in string'),
        ({"scale": "y", "reference": "z", "width": "w"},
         'bad i32 "y": invalid digit found in string'),
        ({"reference": "z", "width": "w"}, 'bad i64 "z": invalid digit found in string'),
    ],
)
def test_table_b_fields(tmp_path, fields, message):
    files = {"BUFRCREX_TableB_en_01.csv": B_HEADER + b_row("001001") + b_row(**fields)}
    if message is None:
        assert load(tmp_path, files).get_element(12101).code == 12101
        return
    assert load_error(tmp_path, files) == "csv/table parse error: " + message


def test_later_row_and_later_file_win(tmp_path):
    # Written in the opposite order to their names, so that only sorting by
    # name puts "..._02.csv" last.
    tables = load(tmp_path, {
        "BUFRCREX_TableB_en_02.csv": B_HEADER + b_row(name="FROM 02", width="12"),
        "BUFRCREX_TableB_en_01.csv": (B_HEADER + b_row(name="FIRST OF 01")
                                      + b_row("001001") + b_row(name="LAST OF 01")),
        "BUFRCREX_TableB_en_10.csv": B_HEADER + b_row("001001", name="FROM 10"),
    })
    assert tables.element_count == 2
    assert (tables.get_element(12101).name, tables.get_element(12101).width) == ("FROM 02", 12)
    assert tables.get_element(1001).name == "FROM 10"


def test_no_code_tables_are_read(tmp_path):
    tables = load(tmp_path, {
        "BUFRCREX_TableB_en_01.csv": B_HEADER + b_row("001003", unit="Code table"),
        "BUFRCREX_CodeFlag_en_01.csv": ("FXY,ElementName_en,CodeFigure,EntryName_en\n"
                                        "001003,WMO Region,0,Antarctica\n"),
    })
    assert tables.get_element(1003).element_type == "code"
    assert tables.get_meaning(1003, 0) is None


# ---- Table D -----------------------------------------------------------------------------

def test_table_d_rows_form_sequences(tmp_path):
    tables = load(tmp_path, {"BUFR_TableD_en_01.csv": D_HEADER + d_row("301099", "001001")
                             + d_row("301099", "001002") + d_row("301099", "004001")})
    assert repr(tables.get_sequence(301099)) == (
        "SequenceDefinition(301099, members=[1001, 1002, 4001])")


def test_interleaved_rows_of_one_file_join_in_record_order(tmp_path):
    tables = load(tmp_path, {"BUFR_TableD_en_01.csv": D_HEADER
                             + d_row("301001", "000003") + d_row("301002", "000009")
                             + d_row("301001", "000001") + d_row("301002", "000008")
                             + d_row("301001", "000003")})
    assert tables.get_sequence(301001).members == [3, 1, 3]
    assert tables.get_sequence(301002).members == [9, 8]


def test_later_file_replaces_a_sequence_whole(tmp_path):
    tables = load(tmp_path, {
        "BUFR_TableD_en_02.csv": D_HEADER + d_row("301001", "000005"),
        "BUFR_TableD_en_01.csv": (D_HEADER + d_row("301001", "000001")
                                  + d_row("301001", "000002") + d_row("301003", "000003")),
    })
    assert tables.get_sequence(301001).members == [5]
    assert tables.get_sequence(301003).members == [3]
    assert tables.sequence_count == 2


@pytest.mark.parametrize(
    "sequence, member, expected",
    [
        (" 301011", '"004001"', [4001]),
        ('"301011 "', "\u3000004001", [4001]),
        ("301011", "4294967295", [4294967295]),
    ],
)
def test_table_d_codes_follow_the_descriptor_code_rule(tmp_path, sequence, member, expected):
    tables = load(tmp_path, {"BUFR_TableD_en_01.csv": D_HEADER + d_row(sequence, member)})
    assert tables.get_sequence(301011).members == expected


@pytest.mark.parametrize(
    "rows, message",
    [
        (d_row("30101x", "004001"), 'bad descriptor code "30101x": invalid digit found in string'),
        (d_row("301011", "00400y"), 'bad descriptor code "00400y": invalid digit found in string'),
        (d_row("30101x", "00400y"), 'bad descriptor code "30101x": invalid digit found in string'),
        (d_row("301011", ""), 'bad descriptor code "": cannot parse integer from empty string'),
        # The field count is checked even when columns 2 and 5 would parse.
        (d_row("301011", "004001") + "01,L,301011,T,,004002\n",
         "CSV error: record 1 (line: 3, byte: 178): found record with 6 fields, "
         "but the previous record has 11 fields"),
        (d_row("301011", "004001") + d_row("301011", "004002", title="caf\udcff"),
         "CSV parse error: record 1 (line 3, field: 3, byte: 178): invalid utf-8: "
         "invalid UTF-8 in field 3 near byte index 3"),
    ],
    ids=["bad-sequence", "bad-member", "sequence-first", "empty-member", "field-count",
         "not-utf8"],
)
def test_table_d_errors(tmp_path, rows, message):
    content = (D_HEADER + rows).encode("utf-8", "surrogateescape")
    assert load_error(tmp_path, {"BUFR_TableD_en_01.csv": content}) == (
        "csv/table parse error: " + message)


def test_short_table_d_header_skips_every_record(tmp_path):
    tables = load(tmp_path, {"BUFR_TableD_en_01.csv": "a,b,c,d,e\n1,2,301011,4,5\n"})
    assert tables.sequence_count == 0


# ---- Errors between files -------------------------------------------------------------------

@pytest.mark.parametrize(
    "files, message",
    [
        ({"BUFRCREX_TableB_en_01.csv": B_HEADER + b_row(width="x"),
          "BUFRCREX_TableB_en_02.csv": B_HEADER + b_row(scale="y")},
         'bad u16 "x": invalid digit found in string'),
        ({"BUFRCREX_TableB_en_99.csv": B_HEADER + b_row(width="x"),
          "BUFR_TableD_en_00.csv": D_HEADER + d_row("y", "1")},
         'bad u16 "x": invalid digit found in string'),
        ({"BUFR_TableD_en_02.csv": D_HEADER + d_row("x", "1"),
          "BUFR_TableD_en_01.csv": D_HEADER + d_row("y", "1")},
         'bad descriptor code "y": invalid digit found in string'),
        ({"BUFRCREX_TableB_en_01.csv": B_HEADER + b_row() + "1,2\n"},
         "CSV error: record 1 (line: 3, byte: 228): found record with 2 fields, "
         "but the previous record has 14 fields"),
        ({"BUFRCREX_TableB_en_01.csv": (B_HEADER + b_row(name="caf\udcff")).encode(
            "utf-8", "surrogateescape")},
         "CSV parse error: record 0 (line 2, field: 3, byte: 165): invalid utf-8: "
         "invalid UTF-8 in field 3 near byte index 3"),
    ],
    ids=["first-table-b-file", "table-b-before-table-d", "first-table-d-file",
         "table-b-field-count", "table-b-utf8"],
)
def test_first_failure_is_reported(tmp_path, files, message):
    assert load_error(tmp_path, files) == "csv/table parse error: " + message


# ---- With the code and flag tables ------------------------------------------------------

CODE_FLAG_HEADER = ("FXY,ElementName_en,CodeFigure,EntryName_en,EntryName_sub1_en,"
                    "EntryName_sub2_en,Note_en,noteIDs,Status\n")


def code_flag_rows(*rows):
    return CODE_FLAG_HEADER + "".join(
        f"{code},Name,{figure},{entry},{sub},,,,Operational\n" for code, figure, entry, sub in rows)


def test_code_and_flag_tables_give_single_figures_their_names(tmp_path):
    files = {"BUFRCREX_TableB_en_02.csv": b_row("002002", "INSTRUMENTS", "Flag table", "0",
                                                "0", "4"),
             "BUFRCREX_CodeFlag_en_02.csv": code_flag_rows(
                 ("002002", "1", "Certified instruments", ""),
                 ("002002", "2-3", "Reserved", ""),         # a range: no single value
                 ("002002", "All 4", "Missing value", ""),  # all bits set
                 ("002002", "", "", ""),
                 ("002004", "0", "", "Evaporation"),        # the name of a sub-entry
                 ("002002", "1", "Certified", ""))}         # a later row wins
    tables = TableSet.from_bufr4_csv(write_files(tmp_path, files))
    assert [tables.get_meaning(2002, raw) for raw in range(5)] == [None, "Certified", None, None,
                                                                   None]
    assert tables.get_meaning(2004, 0) == "Evaporation"
    assert TableSet.from_bufr4_45(str(tmp_path)).get_meaning(2002, 1) is None
    import pickle
    assert pickle.loads(pickle.dumps(tables)).get_meaning(2002, 1) == "Certified"


def test_wmo_code_tables_agree_with_eccodes_ones(shared_data):
    """Where the WMO's CSV files and Debian's newest ecCodes code tables both
    name a figure, they name it alike but for letter case."""
    from test_expansion_support import definitions_path

    eccodes = TableSet.from_eccodes(str(max(definitions_path("bufr", "tables", "0", "wmo")
                                            .glob("[0-9]*"), key=lambda p: int(p.name))))
    wmo = TableSet.from_bufr4_csv(str(shared_data / "wmo-bufr4-csv"))
    pairs = [(wmo.get_meaning(code, raw), eccodes.get_meaning(code, raw))
             for code in (1003, 2001, 2002, 8042, 20012) for raw in range(256)]
    both = [(ours, theirs) for ours, theirs in pairs if ours is not None and theirs is not None]
    assert len(both) >= 80
    assert all(ours.upper() == theirs.upper() for ours, theirs in both)
