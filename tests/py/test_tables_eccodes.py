"""TableSet.from_eccodes on small ecCodes-style table directories: the three
file formats, their edge cases, and the exact error texts."""

import os

import pytest

from _quorvel import TableSet

ROW = "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"


def _as_bytes(text):
    return text.encode() if isinstance(text, str) else text


def write_tables(directory, element=ROW, sequence="", codetables=None):
    """An ecCodes-style table directory. `element` or `sequence` None leaves
    that file out; `codetables` maps file names (str or bytes) to contents."""
    directory.mkdir(parents=True, exist_ok=True)
    if element is not None:
        (directory / "element.table").write_bytes(_as_bytes(element))
    if sequence is not None:
        (directory / "sequence.def").write_bytes(_as_bytes(sequence))
    if codetables is not None:
        (directory / "codetables").mkdir()
        for name, content in codetables.items():
            path = os.path.join(os.fsencode(directory / "codetables"), os.fsencode(name))
            with open(path, "wb") as file:
                file.write(_as_bytes(content))
    return str(directory)


def load(directory, **files):
    return TableSet.from_eccodes(write_tables(directory, **files))


def load_error(directory, **files):
    with pytest.raises(ValueError) as caught:
        load(directory, **files)
    return str(caught.value)


def row(code="001001", abbreviation="blockNumber", element_type="long",
        name="WMO BLOCK NUMBER", unit="Numeric", scale="0", reference="0", width="7"):
    return "|".join([code, abbreviation, element_type, name, unit, scale, reference, width,
                     "Numeric", "0", "2"]) + "\n"


def element_fields(element):
    return (element.code, element.abbreviation, element.element_type, element.name,
            element.unit, element.scale, element.reference, element.width)


def meaning_table(directory, content, name="1003.table"):
    return load(directory, codetables={name: content})


# ---- The directory ------------------------------------------------------------------

def test_directory_without_codetables_loads(tmp_path):
    tables = load(tmp_path, sequence='"300002" = [ 000002, 000003 ]\n')
    assert (tables.element_count, tables.sequence_count) == (1, 1)
    assert tables.get_meaning(1001, 0) is None


def test_a_trailing_separator_in_the_path_is_accepted(tmp_path):
    directory = write_tables(tmp_path / "t")
    assert TableSet.from_eccodes(directory + "/").element_count == 1
    assert TableSet.from_eccodes(directory + "//").element_count == 1


def test_empty_files_give_an_empty_table_set(tmp_path):
    tables = load(tmp_path, element="", sequence="", codetables={})
    assert repr(tables) == "TableSet(elements=0, sequences=0)"


def _make_directory(path):
    path.mkdir()


def _make_file(path):
    path.write_text("0 0 A\n")


def _break_missing_directory(tmp_path):
    return str(tmp_path / "absent")


def _break_path_is_a_file(tmp_path):
    (tmp_path / "file").write_text(ROW)
    return str(tmp_path / "file")


def _break_no_element_table(tmp_path):
    return write_tables(tmp_path, element=None)


def _break_no_sequence_def(tmp_path):
    return write_tables(tmp_path, sequence=None)


def _break_no_files_at_all(tmp_path):
    return write_tables(tmp_path, element=None, sequence=None)


def _break_element_table_is_a_directory(tmp_path):
    _make_directory(tmp_path / "element.table")
    return write_tables(tmp_path, element=None)


def _break_element_table_dangling_link(tmp_path):
    (tmp_path / "element.table").symlink_to(tmp_path / "nowhere")
    return write_tables(tmp_path, element=None)


def _break_sequence_def_is_a_directory(tmp_path):
    _make_directory(tmp_path / "sequence.def")
    return write_tables(tmp_path, sequence=None)


def _break_codetables_is_a_file(tmp_path):
    _make_file(tmp_path / "codetables")
    return write_tables(tmp_path)


def _break_codetables_links_to_a_file(tmp_path):
    _make_file(tmp_path / "plain")
    (tmp_path / "codetables").symlink_to(tmp_path / "plain")
    return write_tables(tmp_path)


def _break_code_table_entry_is_a_directory(tmp_path):
    directory = write_tables(tmp_path, codetables={"1003.table": "0 0 A\n"})
    _make_directory(tmp_path / "codetables" / "1004.table")
    return directory


def _break_sequence_def_not_utf8(tmp_path):
    return write_tables(tmp_path, sequence=b'"300002" = [ 000002 ]\n# caf\xe9\n')


def _break_code_table_not_utf8(tmp_path):
    return write_tables(tmp_path, codetables={"1003.table": b"0 0 caf\xe9\n"})


def _break_element_before_sequence(tmp_path):
    (tmp_path / "element.table").mkdir()
    return write_tables(tmp_path, element=None, sequence=b"\xff")


def _break_sequence_before_codetables(tmp_path):
    return write_tables(tmp_path, sequence="x = [ 1 ]\n", codetables={"abc.table": ""})


@pytest.mark.parametrize(
    "make, message",
    [
        (_break_missing_directory,
         "csv/table parse error: No such file or directory (os error 2)"),
        (_break_path_is_a_file, "csv/table parse error: Not a directory (os error 20)"),
        (_break_no_element_table,
         "csv/table parse error: No such file or directory (os error 2)"),
        (_break_no_sequence_def, "io error: No such file or directory (os error 2)"),
        (_break_no_files_at_all,
         "csv/table parse error: No such file or directory (os error 2)"),
        (_break_element_table_is_a_directory,
         "csv/table parse error: Is a directory (os error 21)"),
        (_break_element_table_dangling_link,
         "csv/table parse error: No such file or directory (os error 2)"),
        (_break_sequence_def_is_a_directory, "io error: Is a directory (os error 21)"),
        (_break_codetables_is_a_file, "io error: Not a directory (os error 20)"),
        (_break_codetables_links_to_a_file, "io error: Not a directory (os error 20)"),
        (_break_code_table_entry_is_a_directory, "io error: Is a directory (os error 21)"),
        (_break_sequence_def_not_utf8, "io error: stream did not contain valid UTF-8"),
        (_break_code_table_not_utf8, "io error: stream did not contain valid UTF-8"),
        (_break_element_before_sequence,
         "csv/table parse error: Is a directory (os error 21)"),
        (_break_sequence_before_codetables,
         'csv/table parse error: bad descriptor code "x": invalid digit found in string'),
    ],
)
def test_directory_failures(tmp_path, make, message):
    directory = make(tmp_path)
    with pytest.raises(ValueError) as caught:
        TableSet.from_eccodes(directory)
    assert str(caught.value) == message


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads files without permission")
@pytest.mark.parametrize(
    "entry, message",
    [
        ("element.table", "csv/table parse error: Permission denied (os error 13)"),
        ("sequence.def", "io error: Permission denied (os error 13)"),
        ("codetables", "io error: Permission denied (os error 13)"),
    ],
)
def test_unreadable_entries(tmp_path, entry, message):
    directory = write_tables(tmp_path, codetables={"1003.table": "0 0 A\n"})
    (tmp_path / entry).chmod(0)
    try:
        with pytest.raises(ValueError) as caught:
            TableSet.from_eccodes(directory)
        assert str(caught.value) == message
    finally:
        (tmp_path / entry).chmod(0o755)


def test_codetables_may_be_a_link_to_a_directory(tmp_path):
    (tmp_path / "real").mkdir()
    (tmp_path / "real" / "1003.table").write_text("2 2 Automatic station\n")
    (tmp_path / "t").mkdir()
    (tmp_path / "t" / "codetables").symlink_to(tmp_path / "real")
    tables = load(tmp_path / "t")
    assert tables.get_meaning(1003, 2) == "Automatic station"


def test_a_dangling_codetables_link_counts_as_absent(tmp_path):
    (tmp_path / "codetables").symlink_to(tmp_path / "nowhere")
    assert load(tmp_path).element_count == 1


def test_other_entries_of_the_directory_are_not_read(tmp_path):
    (tmp_path / "Element.table").write_bytes(b"\xff|broken")
    (tmp_path / "sequence.def.bak").write_bytes(b"\xff")
    (tmp_path / "CodeTables").write_bytes(b"")
    assert load(tmp_path).element_count == 1


# ---- element.table ---------------------------------------------------------------------

def test_typical_row(tmp_path):
    tables = load(tmp_path, element=ROW)
    assert element_fields(tables.get_element(1001)) == (
        1001, "blockNumber", "long", "WMO BLOCK NUMBER", "Numeric", 0, 0, 7)


def test_texts_are_stored_exactly_as_written(tmp_path):
    element = load(tmp_path, element=row(abbreviation=" ab ", element_type="Long ",
                                         name="  WMO  BLOCK ", unit="\tNumeric")
                   ).get_element(1001)
    assert (element.abbreviation, element.element_type, element.name, element.unit) == (
        " ab ", "Long ", "  WMO  BLOCK ", "\tNumeric")


@pytest.mark.parametrize(
    "content, codes",
    [
        ("#code|abbreviation|type\n" + row("001001") + row("001002"), [1001, 1002]),
        ("#a|b\n#c\n" + row("001001") + "#" + row("001002"), [1001]),
        (row("001001") + "\n\n\r\n\r" + row("001002") + "\n", [1001, 1002]),
        (row("001001").replace("\n", "\r\n") + row("001002").replace("\n", "\r\n"),
         [1001, 1002]),
        (row("001001").replace("\n", "\r") + row("001002").replace("\n", "\r"),
         [1001, 1002]),
        (row("001001") + row("001002").rstrip("\n"), [1001, 1002]),
        ("\ufeff" + row("001001"), [1001]),
        ("\ufeff#header\n" + row("001001"), [1001]),
        (b"#caf\xe9 \xff\n" + row("001001").encode(), [1001]),
        ("1|a|b|c|d|0|0\n2|a|b|c|d|0|0\n", []),
        ("1|a|b|c|d|0|0|1\n", [1]),
        ("#comment\r" + row("001001") + row("001002"), [1002]),
    ],
    ids=["header-comment", "comments", "blank-lines", "crlf", "cr", "no-final-newline",
         "bom", "bom-then-comment", "non-utf8-comment", "seven-fields", "eight-fields",
         "comment-runs-to-line-feed"],
)
def test_record_rules(tmp_path, content, codes):
    tables = load(tmp_path, element=content)
    assert tables.element_count == len(codes)
    for code in codes:
        assert tables.get_element(code) is not None


def test_columns_past_the_eighth_are_ignored(tmp_path):
    element = load(tmp_path, element="001001|a|long|N|U|1|2|3|x|not a number|\n"
                   ).get_element(1001)
    assert element_fields(element) == (1001, "a", "long", "N", "U", 1, 2, 3)


@pytest.mark.parametrize(
    "name_field, name",
    [
        ('"a|b"', "a|b"),
        ('"say ""hi"""', 'say "hi"'),
        ('""""', '"'),
        ('""', ""),
        ('"quoted"tail', "quotedtail"),
        ('"line\nbreak"', "line\nbreak"),
        ('"cr\r\nlf"', "cr\r\nlf"),
        ('mid"dle', 'mid"dle'),
        ('A#B', "A#B"),
    ],
)
def test_quoted_fields(tmp_path, name_field, name):
    tables = load(tmp_path, element=row(name=name_field) + row(code="001002"))
    assert tables.get_element(1001).name == name
    assert tables.element_count == 2


def test_end_of_file_inside_quotes_ends_the_field(tmp_path):
    tables = load(tmp_path, element='001001|a|long|N|U|0|0|"7')
    assert tables.get_element(1001).width == 7
    assert load_error(tmp_path / "b", element='001001|a|long|N|U|0|0|"7\n') == (
        'csv/table parse error: bad u16 "7\\n": invalid digit found in string')


@pytest.mark.parametrize(
    "content, message",
    [
        ("#h\n1|a|b|c|d|0|0|1|x|y|z\n2|a|b|c|d|0|0|1|x|y\n",
         "CSV error: record 1 (line: 3, byte: 25): found record with 10 fields, "
         "but the previous record has 11 fields"),
        ("1|a|b|c|d|0|0\n2|a|b|c|d|0|0|1\n",
         "CSV error: record 1 (line: 2, byte: 14): found record with 8 fields, "
         "but the previous record has 7 fields"),
        ("1|a|b|c|d|0|0|1\n2|a|b|c|d|0|0|1\n3|a|b|c|d|0|0|1|\n",
         "CSV error: record 2 (line: 3, byte: 32): found record with 9 fields, "
         "but the previous record has 8 fields"),
        ("1|a|b|c|d|0|0|1\n # not a comment\n",
         "CSV error: record 1 (line: 2, byte: 16): found record with 1 fields, "
         "but the previous record has 8 fields"),
        ("\ufeff1|a|b|c|d|0|0|1\r\n\r\n2|a\r\n",
         "CSV error: record 1 (line: 3, byte: 22): found record with 2 fields, "
         "but the previous record has 8 fields"),
        (b"#c\n001001|a|long|N|U|0|0|7\n001002|a|long|OK\xc3|U|0|0|7\n",
         "CSV parse error: record 1 (line 3, field: 3, byte: 27): invalid utf-8: "
         "invalid UTF-8 in field 3 near byte index 2"),
        (b"\xff|a|long|N|U|0|0|7\n",
         "CSV parse error: record 0 (line 1, field: 0, byte: 0): invalid utf-8: "
         "invalid UTF-8 in field 0 near byte index 0"),
        (b'001001|a|long|"caf""\xed\xa0\x80"|U|0|0|7\n',
         "CSV parse error: record 0 (line 1, field: 3, byte: 0): invalid utf-8: "
         "invalid UTF-8 in field 3 near byte index 4"),
        # Columns past the eighth are not used, but must still be UTF-8.
        (b"1|a|b|c|d|0|0|1|\xff|junk\n",
         "CSV parse error: record 0 (line 1, field: 8, byte: 0): invalid utf-8: "
         "invalid UTF-8 in field 8 near byte index 0"),
    ],
    ids=["fewer-fields", "more-fields-than-short-first", "third-record", "indented-hash",
         "bom-crlf", "bad-utf8", "bad-utf8-code", "surrogate-after-doubled-quote",
         "bad-utf8-in-unused-column"],
)
def test_csv_errors_reach_python_in_full(tmp_path, content, message):
    assert load_error(tmp_path, element=content) == "csv/table parse error: " + message


@pytest.mark.parametrize(
    "fields, message",
    [
        # One field of each kind; the integer rules and their texts are the
        # core's, tested with it.
        ({"width": " 16"}, 'bad u16 " 16": invalid digit found in string'),
        ({"scale": "2147483648"}, 'bad i32 "2147483648": number too large to fit in target type'),
        ({"reference": "-9223372036854775809"},
         'bad i64 "-9223372036854775809": number too small to fit in target type'),
        ({"code": "abc"}, 'bad descriptor code "abc": invalid digit found in string'),
        # The first failing column in the order code, scale, reference, width wins.
        ({"code": "x", "scale": "y", "reference": "z", "width": "w"},
         'bad descriptor code "x": invalid digit found in string'),
        ({"scale": "y", "reference": "z", "width": "w"},
         'bad i32 "y": invalid digit found in string'),
        ({"reference": "z", "width": "w"}, 'bad i64 "z": invalid digit found in string'),
    ],
)
def test_rejected_fields(tmp_path, fields, message):
    content = row("001002") + row(**fields)
    assert load_error(tmp_path, element=content) == "csv/table parse error: " + message


@pytest.mark.parametrize(
    "fields, expected",
    [
        ({"scale": "-3", "width": "+12"}, {"scale": -3, "width": 12}),
        ({"scale": "+0", "reference": "-0"}, {"scale": 0, "reference": 0}),
        ({"reference": "-9223372036854775808"}, {"reference": -2**63}),
        ({"width": "65535", "scale": "-2147483648"}, {"width": 65535, "scale": -2**31}),
        ({"width": "0007"}, {"width": 7}),
        ({"code": " 001001 "}, {"code": 1001}),
        ({"code": '"001001"'}, {"code": 1001}),
        ({"code": ' "001001" '}, {"code": 1001}),
        ({"code": '\u3000\t001001\u2003'}, {"code": 1001}),
        ({"code": "+1001"}, {"code": 1001}),
    ],
)
def test_accepted_fields(tmp_path, fields, expected):
    element = load(tmp_path, element=row(**fields)).get_element(1001)
    assert element is not None
    for name, value in expected.items():
        assert getattr(element, name) == value


def test_codes_are_not_range_checked(tmp_path):
    tables = load(tmp_path, element=row("301011") + row("999999") + row("4294967295"))
    assert [tables.get_element(c).code for c in (301011, 999999, 4294967295)] == [
        301011, 999999, 4294967295]


def test_a_later_row_replaces_an_earlier_one(tmp_path):
    tables = load(tmp_path, element=row(name="FIRST", width="7") + row("001002")
                  + row(" 1001", name="SECOND", width="9", abbreviation=""))
    assert tables.element_count == 2
    assert element_fields(tables.get_element(1001)) == (
        1001, "", "long", "SECOND", "Numeric", 0, 0, 9)


# ---- sequence.def -------------------------------------------------------------------------

@pytest.mark.parametrize(
    "content, expected",
    [
        ('"300002" = [ 000002, 000003 ]\n', {300002: [2, 3]}),
        ("300002 = [ 000002, 000003 ]", {300002: [2, 3]}),
        ('  "300002"=[000002,000003]  \n', {300002: [2, 3]}),
        ('" 300002 " = [ 2 ]\n', {300002: [2]}),
        ('"300002" = [ 000002, , 000003, ]\n', {300002: [2, 3]}),
        ('"300002" = [ ]\n"300003" = []\n', {300002: [], 300003: []}),
        ('"300002" = [ "000002", 000003 ]\n', {300002: [2, 3]}),
        ('"300002" = [ 2 ] trailing, 9, junk ]\n', {300002: [2]}),
        ('"300002" = [\u30002\u3000,\u00a03 ]\n', {300002: [2, 3]}),
        ('"300002" = [ 000002,\n'
         '   000003,\n'
         '   000004 ]\n', {300002: [2, 3, 4]}),
        ('"300002" = [ 000002,\n'
         '# a comment between the lines, with ] in it\n'
         '  # an indented one\n'
         '\n'
         '   000003 ]\n', {300002: [2, 3]}),
        ('"300002" = [ 2 ]\r\n\r\n"300003" = [\r\n 3 ]\r\n', {300002: [2], 300003: [3]}),
        ('"300002" = [ 2 ]\n"300003" = [ 3 ]\n"300002" = [ 4, 5 ]\n',
         {300002: [4, 5], 300003: [3]}),
        ('300001 [ 000001 ]\n"300002" = [ 2 ]\n', {300002: [2]}),
        ('"300002" = [ 2 ]\n"300009" = [ 000001, 000002\n', {300002: [2]}),
        ('"300002" = [ 2 ]\n"300009" = [ 000001, 000002', {300002: [2]}),
        ('"300001" = 000001, 000002\n"300002" = [ 000003 ]\n"300003" = [ 4 ]\n',
         {300001: [3], 300003: [4]}),
        ('"300001" = [ 1 ]\r"300002" = [ 2 ]\r', {300001: [1]}),
        ('"1" = [ 4294967295 ]\n', {1: [4294967295]}),
        ("", {}),
        ("# only a comment\n\n", {}),
    ],
    ids=["quoted-key", "bare-key", "no-spaces", "spaces-in-quotes", "empty-pieces",
         "empty-lists", "quoted-members", "text-after-bracket", "unicode-spaces",
         "three-lines", "comments-between-lines", "crlf", "later-entry-wins",
         "no-equals-dropped", "unterminated-last-dropped", "unterminated-no-newline",
         "missing-bracket-absorbs", "lone-cr-is-not-a-line-end", "extreme-codes", "empty",
         "comments-only"],
)
def test_sequence_entries(tmp_path, content, expected):
    tables = load(tmp_path, sequence=content)
    assert tables.sequence_count == len(expected)
    for code, members in expected.items():
        assert tables.get_sequence(code).members == members


@pytest.mark.parametrize(
    "content, message",
    [
        ('"30000x" = [ 000002 ]\n', 'bad descriptor code "30000x": invalid digit found in string'),
        ("= [ 000002 ]\n", 'bad descriptor code "": cannot parse integer from empty string'),
        ('"300002" = [ 000001, 00000y ]\n',
         'bad descriptor code "00000y": invalid digit found in string'),
        ('"300002" = [ 4294967296 ]\n',
         'bad descriptor code "4294967296": number too large to fit in target type'),
        ('"300002" = [ 1, # 2 ]\n', 'bad descriptor code "# 2": invalid digit found in string'),
        ('"300002" = [ 1 2 ]\n', 'bad descriptor code "1 2": invalid digit found in string'),
        # The key is checked before the brackets are looked for.
        ('"30000x" = 1 ]\n', 'bad descriptor code "30000x": invalid digit found in string'),
        ("300001] = [ 000001\n", 'bad descriptor code "300001]": invalid digit found in string'),
        ('"300001" = 000001 ]\n', '"300001" = 000001 ]'),
        ('"300001" = 000001,\n   000002 ]\n', '"300001" = 000001, 000002 ]'),
        ('"300001" = [ 000001, 000002\n"300002" = [ 000003 ]\n',
         'bad descriptor code "000002 \\"300002\\" = [ 000003": invalid digit found in string'),
        ('\ufeff"300002" = [ 000002, 000003 ]\n',
         'bad descriptor code "\\u{feff}\\"300002": invalid digit found in string'),
        ("\ufeff300002 = [ 000002 ]\n",
         'bad descriptor code "\\u{feff}300002": invalid digit found in string'),
        ('"300002" = [ 2 ]\n"300003" = 3 ]\n"300004" = [ x ]\n', '"300003" = 3 ]'),
    ],
    ids=["bad-key", "empty-key", "bad-member", "member-too-large", "hash-in-list",
         "space-in-member", "key-before-brackets", "bracket-before-equals", "no-open-bracket",
         "no-open-bracket-joined", "absorbed-entry", "bom-quoted-key", "bom-bare-key",
         "first-failure-wins"],
)
def test_sequence_errors(tmp_path, content, message):
    assert load_error(tmp_path, sequence=content) == "csv/table parse error: " + message


def test_close_bracket_before_open_bracket_is_rejected(tmp_path):
    message = load_error(tmp_path, sequence='"300001" = ] 000001 [\n')
    assert message.startswith("csv/table parse error: ")


def test_bom_is_skipped_in_element_table_but_not_in_sequence_def(tmp_path):
    assert load(tmp_path / "a", element="\ufeff" + ROW).get_element(1001).code == 1001
    # With a mark in both files, element.table loads and sequence.def fails.
    assert load_error(tmp_path / "b", element="\ufeff" + ROW, sequence="\ufeff300002 = [ 2 ]") == (
        'csv/table parse error: bad descriptor code "\\u{feff}300002": '
        "invalid digit found in string")


# ---- codetables ----------------------------------------------------------------------------

@pytest.mark.parametrize(
    "content, raw, meaning",
    [
        ("2 2 Automatic station\n", 2, "Automatic station"),
        ("5 5 Sea     station\n", 5, "Sea station"),
        ("5\t5\tSea\t\t station\t\n", 5, "Sea station"),
        ("5 5 Sea\u3000station\n", 5, "Sea station"),
        ("5 5 Sea \u3000\t station\n", 5, "Sea station"),
        ("5 5 Sea\u00a0\u2003\u0085\u2028station\n", 5, "Sea station"),
        ("\u3000 5 5 Sea station \u3000\n", 5, "Sea station"),
        ("5 5 Sea\u200bstation\n", 5, "Sea\u200bstation"),  # not White_Space
        ("5 5 Sea\ufeffstation\n", 5, "Sea\ufeffstation"),
        ("5 zz Sea station\n", 5, "Sea station"),  # the second word is not read
        ("5 5 Sea station\r\n", 5, "Sea station"),
        ("1 1 A\r2 2 B\n", 1, "A 2 2 B"),  # a lone CR does not end a line
        ("1 1 A\r2 2 B\n", 2, None),
        ("1 1 # not a comment\n", 1, "# not a comment"),
        ("# 1 1 comment\n  # 2 2 indented\n3 3 C\n", 1, None),
        ("# 1 1 comment\n  # 2 2 indented\n3 3 C\n", 2, None),
        ("1 1 First\n1 1 Second\n", 1, "Second"),
        ("7 MISSING\n", 7, None),  # two words: skipped
        ("7\n", 7, None),
        ("x y\n1 1 A\n", 1, "A"),  # the key of a two-word line is never looked at
        ("+5 5 Plus\n", 5, "Plus"),
        ("007 7 Zeros\n", 7, "Zeros"),
        ("18446744073709551615 0 Largest\n", 2**64 - 1, "Largest"),
        ("1 1 Région °C\n", 1, "Région °C"),
        ("\n\n1 1 A", 1, "A"),
    ],
)
def test_code_table_lines(tmp_path, content, raw, meaning):
    assert meaning_table(tmp_path, content).get_meaning(1003, raw) == meaning


@pytest.mark.parametrize(
    "content, message",
    [
        ("x 1 Three words\n", 'bad code table key "x": invalid digit found in string'),
        ("1 1 A\n-1 1 Negative\n", 'bad code table key "-1": invalid digit found in string'),
        ("18446744073709551616 0 Too large\n",
         'bad code table key "18446744073709551616": number too large to fit in target type'),
        ("1.0 1 Decimal\n", 'bad code table key "1.0": invalid digit found in string'),
        ('"1" 1 Quoted\n', 'bad code table key "\\"1\\"": invalid digit found in string'),
        ("\ufeff0 0 Marked\n", 'bad code table key "\\u{feff}0": invalid digit found in string'),
    ],
)
def test_code_table_key_errors(tmp_path, content, message):
    assert load_error(tmp_path, codetables={"1003.table": content}) == (
        "csv/table parse error: " + message)


def test_meanings_are_stored_per_element_code(tmp_path):
    tables = load(tmp_path, codetables={
        "1003.table": "0 0 ANTARCTICA\n",
        "20012.table": "0 0 Cirrostratus\n",
        "1234567.table": "0 0 Seven digits\n",
        "0.table": "0 0 Zero\n",
    })
    assert [tables.get_meaning(c, 0) for c in (1003, 20012, 1234567, 0)] == [
        "ANTARCTICA", "Cirrostratus", "Seven digits", "Zero"]
    assert tables.get_meaning(1003, 1) is None


def test_empty_code_table_answers_nothing(tmp_path):
    tables = load(tmp_path, codetables={"1003.table": "", "1004.table": "# only a comment\n"})
    assert tables.get_meaning(1003, 0) is None
    assert tables.get_meaning(1004, 0) is None


def test_only_entries_ending_in_table_are_read(tmp_path):
    tables = load(tmp_path, codetables={
        "1003.table": "0 0 Read\n",
        "1004.txt": "0 0 Not read\n",
        "1005.TABLE": "0 0 Not read\n",
        "abc.txt": "x x x\n",
        "1006.table.bak": "x x x\n",
        "1007.tables": "x x x\n",
        "table": "x x x\n",
    })
    assert tables.get_meaning(1003, 0) == "Read"
    assert [tables.get_meaning(c, 0) for c in (1004, 1005, 1006, 1007)] == [None] * 4


def test_subdirectories_are_not_entered(tmp_path):
    directory = write_tables(tmp_path, codetables={"1003.table": "0 0 A\n"})
    (tmp_path / "codetables" / "sub").mkdir()
    (tmp_path / "codetables" / "sub" / "1004.table").write_text("0 0 B\n")
    (tmp_path / "codetables" / "sub" / "abc.table").write_text("x x x\n")
    tables = TableSet.from_eccodes(directory)
    assert (tables.get_meaning(1003, 0), tables.get_meaning(1004, 0)) == ("A", None)


@pytest.mark.parametrize(
    "name, message",
    [
        ("abc.table", 'bad descriptor code "abc": invalid digit found in string'),
        (".table", 'bad descriptor code ".table": invalid digit found in string'),
        ("1003.x.table", 'bad descriptor code "1003.x": invalid digit found in string'),
        ("é.table", 'bad descriptor code "é": invalid digit found in string'),
        ("4294967296.table",
         'bad descriptor code "4294967296": number too large to fit in target type'),
        ("\t.table", 'bad descriptor code "\\t": cannot parse integer from empty string'),
    ],
)
def test_file_names_that_are_not_codes(tmp_path, name, message):
    assert load_error(tmp_path, codetables={name: "0 0 A\n"}) == (
        "csv/table parse error: " + message)


@pytest.mark.parametrize("name", [" 1003.table", '"1003".table', "001003.table", "+1003.table"])
def test_file_stems_follow_the_descriptor_code_rule(tmp_path, name):
    assert meaning_table(tmp_path, "0 0 A\n", name).get_meaning(1003, 0) == "A"


@pytest.mark.parametrize("name", [b"\xff.table", b"1003\xff.table", b"\xc3.table"])
def test_stems_that_are_not_utf8_are_skipped(tmp_path, name):
    tables = load(tmp_path, codetables={name: b"not a code table \xff", "1003.table": "0 0 A\n"})
    assert tables.get_meaning(1003, 0) == "A"


def test_later_file_name_replaces_the_whole_table(tmp_path):
    # "1003.table" sorts after "001003.table" and replaces it; the two are not
    # merged. Files are written in the opposite order to their names.
    tables = load(tmp_path, codetables={"1003.table": "2 2 From 1003\n",
                                        "001003.table": "0 0 A\n2 2 From 001003\n"})
    assert tables.get_meaning(1003, 2) == "From 1003"
    assert tables.get_meaning(1003, 0) is None


def test_later_empty_table_replaces_a_full_one(tmp_path):
    tables = load(tmp_path, codetables={"1003.table": "", "01003.table": "0 0 A\n"})
    assert tables.get_meaning(1003, 0) is None


@pytest.mark.parametrize(
    "files, message",
    [
        # "0x.table" sorts before "1.table": its name fails before 1.table is read.
        ({"1.table": "y 1 Bad key\n", "0x.table": ""},
         'bad descriptor code "0x": invalid digit found in string'),
        ({"1.table": "y 1 Bad key\n", "2x.table": ""},
         'bad code table key "y": invalid digit found in string'),
        ({"B.table": "", "A.table": ""}, 'bad descriptor code "A": invalid digit found in string'),
        ({"b.table": "", "C.table": ""}, 'bad descriptor code "C": invalid digit found in string'),
    ],
)
def test_files_are_visited_in_byte_order_of_their_names(tmp_path, files, message):
    assert load_error(tmp_path, codetables=files) == "csv/table parse error: " + message


# ---- Lenient reading, as installed local tables need it -------------------------------

def test_lenient_reading_takes_ragged_rows_and_padded_numbers(tmp_path):
    ragged = ROW + "001002|stationNumber|long|WMO STATION NUMBER|Numeric|0|0|10 \n"
    directory = write_tables(tmp_path, element=ragged)
    with pytest.raises(ValueError, match="found record with 8 fields, but the previous record "
                                         "has 11 fields$"):
        TableSet.from_eccodes(directory)
    tables = TableSet.from_eccodes(directory, lenient=True)
    assert [tables.get_element(code).width for code in (1001, 1002)] == [7, 10]
    # Pickling keeps the option, so the tables load again elsewhere.
    import pickle
    assert pickle.loads(pickle.dumps(tables)).get_element(1002).width == 10
