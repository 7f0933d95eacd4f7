"""TableSet, ElementDefinition and SequenceDefinition as Python sees them:
construction, queries, argument checks, reprs, snapshots and immutability.
Tables are small ecCodes-style directories written into tmp_path."""

import gc
import inspect
import pathlib

import pytest

import _quorvel
from _quorvel import ElementDefinition, SequenceDefinition, TableSet

U32_MAX = 2**32 - 1
U64_MAX = 2**64 - 1


def write_tables(directory, element=b"", sequence=b"", codetables=None):
    """An ecCodes-style table directory; `codetables` maps file name to content."""
    directory.mkdir(parents=True, exist_ok=True)
    (directory / "element.table").write_bytes(_as_bytes(element))
    (directory / "sequence.def").write_bytes(_as_bytes(sequence))
    if codetables is not None:
        (directory / "codetables").mkdir()
        for name, content in codetables.items():
            (directory / "codetables" / name).write_bytes(_as_bytes(content))
    return str(directory)


def _as_bytes(text):
    return text.encode() if isinstance(text, str) else text


def element_row(code, name="NAME", unit="Numeric", scale="0", reference="0", width="8",
                abbreviation="abbr", element_type="long"):
    """One element.table row; the name is always written as a quoted field."""
    quoted_name = '"' + name.replace('"', '""') + '"'
    return "|".join([code, abbreviation, element_type, quoted_name, unit, scale, reference,
                     width, "Numeric", "0", "1"]) + "\n"


ELEMENTS = (
    "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width\n"
    "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"
    "012101|airTemperature|double|TEMPERATURE/AIR TEMPERATURE|K|2|0|16|C|2|4\n"
    "001015|stationOrSiteName|string|STATION OR SITE NAME|CCITT IA5|0|0|160|Character|0|20\n"
    "020003|presentWeather|table|PRESENT WEATHER|CODE TABLE|0|0|9|CODE TABLE|0|3\n"
    "000001|lowest|long|LOWEST|Numeric|-2147483648|-9223372036854775808|0|Numeric|0|1\n"
    "000002|highest|long|HIGHEST|Numeric|2147483647|9223372036854775807|65535|Numeric|0|1\n"
)
SEQUENCES = (
    '"301011" = [  004001, 004002, 004003 ]\n'
    '"300000" = [ ]\n'
    '"000001" = [ 000002 ]\n'
    '"1234567" = [ 4294967295, 0 ]\n'
)
CODE_TABLES = {
    "1003.table": "0 0 ANTARCTICA\n1 1 REGION I\n7 7 MISSING VALUE\n",
    "20003.table": "18446744073709551615 x HIGHEST KEY\n",
    "2002.table": "1 1 Bit one set\n3 3 Bits one and two set\n",
    "4001.table": "",
}


@pytest.fixture
def tables(tmp_path):
    return TableSet.from_eccodes(write_tables(tmp_path / "t", ELEMENTS, SEQUENCES, CODE_TABLES))


# ---- The empty table set -----------------------------------------------------

def test_empty_table_set_has_no_entries():
    empty = TableSet()
    assert empty.element_count == 0
    assert empty.sequence_count == 0
    assert repr(empty) == "TableSet(elements=0, sequences=0)"


@pytest.mark.parametrize("code", [0, 1, 1001, 301011, U32_MAX])
def test_empty_table_set_answers_none(code):
    empty = TableSet()
    assert empty.get_element(code) is None
    assert empty.get_sequence(code) is None
    assert empty.get_meaning(code, 0) is None
    assert empty.get_meaning(code, U64_MAX) is None


def test_constructor_takes_no_arguments():
    with pytest.raises(TypeError):
        TableSet(1)
    with pytest.raises(TypeError):
        TableSet(path="x")


def test_each_constructor_call_makes_a_new_table_set():
    assert TableSet() is not TableSet()


# ---- Queries -------------------------------------------------------------------

def test_counts_and_repr_of_a_loaded_table_set(tables):
    assert tables.element_count == 6
    assert tables.sequence_count == 4
    assert repr(tables) == "TableSet(elements=6, sequences=4)"


@pytest.mark.parametrize(
    "code, expected",
    [
        (1001, (1001, "WMO BLOCK NUMBER", "Numeric", 0, 0, 7, "long", "blockNumber")),
        (12101, (12101, "TEMPERATURE/AIR TEMPERATURE", "K", 2, 0, 16, "double",
                 "airTemperature")),
        (1015, (1015, "STATION OR SITE NAME", "CCITT IA5", 0, 0, 160, "string",
                "stationOrSiteName")),
        (1, (1, "LOWEST", "Numeric", -2147483648, -9223372036854775808, 0, "long", "lowest")),
        (2, (2, "HIGHEST", "Numeric", 2147483647, 9223372036854775807, 65535, "long",
             "highest")),
    ],
)
def test_get_element_returns_every_field(tables, code, expected):
    element = tables.get_element(code)
    assert type(element) is ElementDefinition
    got = (element.code, element.name, element.unit, element.scale, element.reference,
           element.width, element.element_type, element.abbreviation)
    assert got == expected
    for value in (element.code, element.scale, element.reference, element.width):
        assert type(value) is int


@pytest.mark.parametrize(
    "code, members",
    [
        (301011, [4001, 4002, 4003]),
        (300000, []),
        (1, [2]),
        (1234567, [U32_MAX, 0]),
    ],
)
def test_get_sequence_returns_code_and_members(tables, code, members):
    sequence = tables.get_sequence(code)
    assert type(sequence) is SequenceDefinition
    assert sequence.code == code
    assert sequence.members == members
    assert type(sequence.members) is list


@pytest.mark.parametrize("code", [0, 1002, 4001, 12101 + 100000, 301012, U32_MAX])
def test_absent_codes_answer_none(tables, code):
    assert tables.get_element(code) is None
    assert tables.get_sequence(code) is None


def test_elements_and_sequences_are_separate_maps(tables):
    # 1 is both an element and a sequence here; each query sees only its own map.
    assert tables.get_element(1).name == "LOWEST"
    assert tables.get_sequence(1).members == [2]
    assert tables.get_element(301011) is None
    assert tables.get_sequence(1001) is None


@pytest.mark.parametrize(
    "code, raw, meaning",
    [
        (1003, 0, "ANTARCTICA"),
        (1003, 1, "REGION I"),
        (1003, 7, "MISSING VALUE"),
        (1003, 2, None),  # the table exists, the value does not
        (1003, U64_MAX, None),
        (20003, U64_MAX, "HIGHEST KEY"),
        (20003, 0, None),
        (2002, 3, "Bits one and two set"),  # a flag table: one meaning per whole value
        (2002, 2, None),  # no splitting into bits
        (4001, 0, None),  # an empty table answers nothing
        (1001, 0, None),  # an element without a table
        (9999, 1, None),  # neither element nor table
    ],
)
def test_get_meaning(tables, code, raw, meaning):
    assert tables.get_meaning(code, raw) == meaning


def test_get_meaning_is_keyed_by_element_code_not_by_element(tables):
    # Code table 1003 belongs to no element of this table set, and still answers.
    assert tables.get_element(1003) is None
    assert tables.get_meaning(1003, 1) == "REGION I"


def test_queries_accept_keywords(tables):
    assert tables.get_element(code=1001).code == 1001
    assert tables.get_sequence(code=301011).code == 301011
    assert tables.get_meaning(raw=1, code=1003) == "REGION I"


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def test_queries_accept_objects_with_index(tables):
    assert tables.get_element(Index(1001)).code == 1001
    assert tables.get_sequence(Index(301011)).code == 301011
    assert tables.get_meaning(Index(1003), Index(7)) == "MISSING VALUE"


# ---- Argument errors -------------------------------------------------------------

OVERFLOWS = [
    ("get_element", (U32_MAX + 1,), "code"),
    ("get_element", (-1,), "code"),
    ("get_element", (-(2**70),), "code"),
    ("get_sequence", (U32_MAX + 1,), "code"),
    ("get_sequence", (-1,), "code"),
    ("get_meaning", (U32_MAX + 1, 0), "code"),
    ("get_meaning", (-1, 0), "code"),
    ("get_meaning", (1003, -1), "raw"),
    ("get_meaning", (1003, U64_MAX + 1), "raw"),
    ("get_meaning", (1003, 2**100), "raw"),
    ("get_meaning", (-1, -1), "code"),  # arguments convert in signature order
    ("get_element", (Index(-1),), "code"),
]


@pytest.mark.parametrize("method, args, name", OVERFLOWS)
def test_out_of_range_arguments_raise_overflow_error_naming_the_argument(tables, method, args,
                                                                          name):
    for table_set in (tables, TableSet()):
        with pytest.raises(OverflowError) as caught:
            getattr(table_set, method)(*args)
        assert str(caught.value).startswith(f"argument '{name}': ")


WRONG_TYPES = [
    ("get_element", ("1001",), "code"),
    ("get_element", (1001.0,), "code"),
    ("get_element", (None,), "code"),
    ("get_element", (_quorvel.Descriptor(0, 1, 1),), "code"),
    ("get_sequence", ("301011",), "code"),
    ("get_sequence", (b"\x01",), "code"),
    ("get_meaning", ("1003", 0), "code"),
    ("get_meaning", (1003, "0"), "raw"),
    ("get_meaning", (1003, 1.5), "raw"),
    ("get_meaning", ("1003", -1), "code"),
    ("get_meaning", (1003, Index("0")), "raw"),
]


@pytest.mark.parametrize("method, args, name", WRONG_TYPES)
def test_wrong_argument_types_raise_type_error_naming_the_argument(tables, method, args, name):
    with pytest.raises(TypeError) as caught:
        getattr(tables, method)(*args)
    # __index__ returning a non-int is refused by the interpreter in its own words.
    if not any(isinstance(arg, Index) for arg in args):
        assert str(caught.value).startswith(f"argument '{name}': ")


@pytest.mark.parametrize(
    "call",
    [
        lambda t: t.get_element(),
        lambda t: t.get_element(1, 2),
        lambda t: t.get_element(1001, code=1001),
        lambda t: t.get_element(number=1001),
        lambda t: t.get_meaning(1003),
        lambda t: t.get_meaning(1003, 1, 2),
        lambda t: TableSet.from_eccodes(),
        lambda t: TableSet.from_eccodes("a", "b"),
        lambda t: TableSet.from_bufr4_45(directory="a"),
    ],
)
def test_missing_and_unexpected_arguments_raise_type_error(tables, call):
    with pytest.raises(TypeError):
        call(tables)


@pytest.mark.parametrize("loader", [TableSet.from_eccodes, TableSet.from_bufr4_45])
@pytest.mark.parametrize("path", [b"/tmp", pathlib.Path("/tmp"), 1, None, ["/tmp"]])
def test_loaders_refuse_a_path_that_is_not_str(loader, path):
    with pytest.raises(TypeError) as caught:
        loader(path)
    assert str(caught.value).startswith("argument 'path': ")


class StrPath(str):
    pass


def test_loaders_accept_str_subclass_and_keyword(tmp_path):
    directory = write_tables(tmp_path / "t", ELEMENTS, SEQUENCES)
    assert TableSet.from_eccodes(StrPath(directory)).element_count == 6
    assert TableSet.from_eccodes(path=directory).sequence_count == 4
    assert TableSet.from_bufr4_45(path=StrPath(directory)).element_count == 0


def test_loaders_are_static_and_return_table_sets(tmp_path):
    directory = write_tables(tmp_path / "t", ELEMENTS, SEQUENCES)
    assert type(TableSet().from_eccodes(directory)) is TableSet
    assert type(TableSet.from_bufr4_45(directory)) is TableSet


# ---- Independent objects ----------------------------------------------------------

def test_get_element_returns_a_new_object_each_call(tables):
    first = tables.get_element(12101)
    second = tables.get_element(12101)
    assert first is not second
    fields = ("code", "name", "unit", "scale", "reference", "width", "element_type",
              "abbreviation")
    assert [getattr(first, f) for f in fields] == [getattr(second, f) for f in fields]


def test_get_sequence_returns_a_new_object_each_call(tables):
    first = tables.get_sequence(301011)
    second = tables.get_sequence(301011)
    assert first is not second
    assert (first.code, first.members) == (second.code, second.members)


def test_members_is_a_new_list_on_every_access(tables):
    sequence = tables.get_sequence(301011)
    first = sequence.members
    second = sequence.members
    assert first is not second
    assert first == second == [4001, 4002, 4003]
    first.append(1)
    first[0] = 0
    second.clear()
    assert sequence.members == [4001, 4002, 4003]
    assert tables.get_sequence(301011).members == [4001, 4002, 4003]


def test_definitions_outlive_their_table_set(tmp_path):
    table_set = TableSet.from_eccodes(write_tables(tmp_path / "t", ELEMENTS, SEQUENCES))
    element = table_set.get_element(12101)
    sequence = table_set.get_sequence(301011)
    del table_set
    gc.collect()
    assert element.name == "TEMPERATURE/AIR TEMPERATURE"
    assert sequence.members == [4001, 4002, 4003]


def test_a_table_set_does_not_follow_its_files(tmp_path):
    directory = write_tables(tmp_path / "t", ELEMENTS, SEQUENCES, CODE_TABLES)
    table_set = TableSet.from_eccodes(directory)
    write_tables(tmp_path / "t", "", "")
    (tmp_path / "t" / "codetables" / "1003.table").write_text("0 0 CHANGED\n")
    assert table_set.element_count == 6
    assert table_set.get_meaning(1003, 0) == "ANTARCTICA"


# ---- Representations -----------------------------------------------------------------

@pytest.mark.parametrize(
    "code, name, expected",
    [
        ("001001", "WMO BLOCK NUMBER", 'ElementDefinition(001001, name="WMO BLOCK NUMBER")'),
        ("0", "ZERO", 'ElementDefinition(000000, name="ZERO")'),
        ("99999", "X", 'ElementDefinition(099999, name="X")'),
        ("1234567", "SEVEN", 'ElementDefinition(1234567, name="SEVEN")'),
        ("4294967295", "MAX", 'ElementDefinition(4294967295, name="MAX")'),
        ("1001", "", 'ElementDefinition(001001, name="")'),
        ("1001", 'say "hi"', r'ElementDefinition(001001, name="say \"hi\"")'),
        ("1001", '"', r'ElementDefinition(001001, name="\"")'),
        ("1001", "back\\slash", r'ElementDefinition(001001, name="back\\slash")'),
        ("1001", "a\tb", r'ElementDefinition(001001, name="a\tb")'),
        ("1001", "a\rb\nc", r'ElementDefinition(001001, name="a\rb\nc")'),
        ("1001", "a\0b", r'ElementDefinition(001001, name="a\0b")'),
        ("1001", "\x7f\x1b", r'ElementDefinition(001001, name="\u{7f}\u{1b}")'),
        ("1001", "no\u00a0break", r'ElementDefinition(001001, name="no\u{a0}break")'),
        ("1001", "ideo\u3000space", r'ElementDefinition(001001, name="ideo\u{3000}space")'),
        ("1001", "zero\u200bwidth", r'ElementDefinition(001001, name="zero\u{200b}width")'),
        ("1001", "\ufeffmark", r'ElementDefinition(001001, name="\u{feff}mark")'),
        ("1001", "line\u2028para\u2029", r'ElementDefinition(001001, name="line\u{2028}para\u{2029}")'),
        ("1001", "e\u0301", r'ElementDefinition(001001, name="e\u{301}")'),
        ("1001", "private\ue000", r'ElementDefinition(001001, name="private\u{e000}")'),
        ("1001", "none\U0010ffff", r'ElementDefinition(001001, name="none\u{10ffff}")'),
        ("1001", "Température °C µm", 'ElementDefinition(001001, name="Température °C µm")'),
        ("1001", "\U0001f600 ok", 'ElementDefinition(001001, name="\U0001f600 ok")'),
    ],
)
def test_element_definition_repr(tmp_path, code, name, expected):
    table_set = TableSet.from_eccodes(write_tables(tmp_path / "t", element_row(code, name)))
    element = table_set.get_element(int(code))
    assert element.name == name
    assert repr(element) == expected


@pytest.mark.parametrize(
    "code, expected",
    [
        (301011, "SequenceDefinition(301011, members=[4001, 4002, 4003])"),
        (300000, "SequenceDefinition(300000, members=[])"),
        (1, "SequenceDefinition(000001, members=[2])"),
        (1234567, "SequenceDefinition(1234567, members=[4294967295, 0])"),
    ],
)
def test_sequence_definition_repr(tables, code, expected):
    assert repr(tables.get_sequence(code)) == expected


# ---- Immutability ----------------------------------------------------------------------

ELEMENT_FIELDS = ["code", "name", "unit", "scale", "reference", "width", "element_type",
                  "abbreviation"]


@pytest.mark.parametrize("field", ELEMENT_FIELDS + ["extra"])
def test_element_definition_attributes_cannot_be_set(tables, field):
    element = tables.get_element(1001)
    with pytest.raises(AttributeError):
        setattr(element, field, 1)
    if field != "extra":
        with pytest.raises(AttributeError):
            delattr(element, field)
    assert repr(element) == 'ElementDefinition(001001, name="WMO BLOCK NUMBER")'


@pytest.mark.parametrize("field", ["code", "members", "extra"])
def test_sequence_definition_attributes_cannot_be_set(tables, field):
    sequence = tables.get_sequence(301011)
    with pytest.raises(AttributeError):
        setattr(sequence, field, [1])
    assert sequence.members == [4001, 4002, 4003]


@pytest.mark.parametrize("field", ["element_count", "sequence_count", "extra"])
def test_table_set_attributes_cannot_be_set(tables, field):
    with pytest.raises(AttributeError):
        setattr(tables, field, 0)
    assert tables.element_count == 6


@pytest.mark.parametrize("cls", [ElementDefinition, SequenceDefinition])
def test_definitions_cannot_be_instantiated(cls):
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls(1001)


@pytest.mark.parametrize("cls", [ElementDefinition, SequenceDefinition, TableSet])
def test_classes_are_immutable(cls):
    with pytest.raises(TypeError):
        cls.extra = 1
    with pytest.raises(TypeError):
        cls.__repr__ = lambda self: "patched"


def test_definitions_come_from_the_module():
    assert _quorvel.ElementDefinition is ElementDefinition
    assert ElementDefinition.__module__ == "_quorvel"
    assert SequenceDefinition.__module__ == "_quorvel"
    assert TableSet.__module__ == "_quorvel"


# ---- Text signatures --------------------------------------------------------------------

@pytest.mark.parametrize(
    "obj, signature",
    [
        (TableSet, "()"),
        (TableSet.get_element, "($self, code)"),
        (TableSet.get_sequence, "($self, code)"),
        (TableSet.get_meaning, "($self, code, raw)"),
        (TableSet.from_eccodes, "(path, lenient=False)"),
        (TableSet.from_bufr4_45, "(path)"),
    ],
)
def test_text_signatures(obj, signature):
    assert obj.__text_signature__ == signature
    # The documentation holds the signature and nothing else.
    assert not obj.__doc__


@pytest.mark.parametrize(
    "obj, parameters",
    [
        (TableSet().get_element, ["code"]),
        (TableSet().get_meaning, ["code", "raw"]),
        (TableSet.from_eccodes, ["path", "lenient"]),
        (TableSet.from_bufr4_45, ["path"]),
    ],
)
def test_signatures_are_readable_by_inspect(obj, parameters):
    assert list(inspect.signature(obj).parameters) == parameters
