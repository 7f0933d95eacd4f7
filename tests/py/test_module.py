"""The module surface: names, signatures, argument conversion and file reading."""

import errno
import importlib.util
import inspect
import os
import pathlib
import subprocess
import sys
import types

import pytest

import _quorvel
from _quorvel import parse_all_bytes, parse_all_file, parse_bytes, parse_file
from builder import build_message
from module_names import CLASSES, CONSTANTS, FUNCTIONS

# The message layer, registered from the start.
MESSAGE_LAYER = ["BufrMessage", "Descriptor", "parse_bytes", "parse_file", "parse_all_bytes",
                 "parse_all_file"]

SIGNATURES = [
    ("parse_bytes", "(data)"),
    ("parse_file", "(path)"),
    ("parse_all_bytes", "(data)"),
    ("parse_all_file", "(path)"),
    ("expand_descriptors", "(table_dir, descriptors)"),
    ("decode_values", "(data, table_dir)"),
    ("decode_values_with_tables", "(data, tables)"),
    ("decode_values_with_definitions", "(data, definitions_root)"),
    ("scan_messages", "(data)"),
    ("Descriptor", "(f, x, y)"),
    ("Descriptor.from_fxy", "(code)"),
]

MESSAGE = build_message(descriptors=[1001, 301011], data=b"\x05\x06")


def resolve(dotted):
    value = _quorvel
    for part in dotted.split("."):
        value = getattr(value, part, None)
        if value is None:
            pytest.skip(f"{dotted} is not registered yet")
    return value


@pytest.mark.parametrize("name, signature", SIGNATURES)
def test_text_signature(name, signature):
    value = resolve(name)
    assert value.__text_signature__ == signature
    # The documentation holds the signature and nothing else.
    assert value.__doc__ in (None, "")
    expected = [part.strip() for part in signature.strip("()").split(",")]
    assert list(inspect.signature(value).parameters) == expected


def test_module_doc_is_empty():
    assert _quorvel.__doc__ == ""


def test_module_attributes_are_the_registered_classes_and_functions():
    public = [name for name in vars(_quorvel) if not name.startswith("__")]
    assert set(MESSAGE_LAYER) <= set(public)
    # Nothing else, and in registration order: classes, functions, constants.
    order = CLASSES + FUNCTIONS + CONSTANTS
    assert [name for name in public if name not in order] == []
    assert public == sorted(public, key=order.index)
    for name in public:
        value = getattr(_quorvel, name)
        if name in CLASSES:
            assert isinstance(value, type)
            assert value.__module__ == "_quorvel"
        elif name in CONSTANTS:
            assert not callable(value)
        else:
            assert isinstance(value, types.BuiltinFunctionType)


def test_each_module_object_has_its_own_classes():
    spec = importlib.util.spec_from_file_location("_quorvel", _quorvel.__file__)
    second = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(second)
    assert second is not _quorvel and second.TableSet is not _quorvel.TableSet
    assert type(second.parse_bytes(MESSAGE.data)) is second.BufrMessage
    # Static methods find the module of the class they are called on.
    assert type(second.Descriptor.from_fxy(1001)) is second.Descriptor
    assert type(_quorvel.Descriptor.from_fxy(1001)) is _quorvel.Descriptor
    with pytest.raises(TypeError, match="^argument 'tables': expected TableSet"):
        second.decode_values_with_tables(MESSAGE.data, _quorvel.TableSet())


# ---------------------------------------------------------------------------
# Argument conversion.

BYTES_FUNCTIONS = [parse_bytes, parse_all_bytes, _quorvel.scan_messages]
PATH_FUNCTIONS = [parse_file, parse_all_file]


class BytesSubclass(bytes):
    pass


class StrSubclass(str):
    pass


@pytest.mark.parametrize("function", BYTES_FUNCTIONS, ids=lambda f: f.__name__)
@pytest.mark.parametrize(
    "value",
    [bytearray(MESSAGE.data), memoryview(MESSAGE.data), MESSAGE.data.decode("latin-1"), None, 0,
     list(MESSAGE.data), pathlib.Path("x")],
    ids=lambda v: type(v).__name__,
)
def test_data_must_be_bytes(function, value):
    with pytest.raises(TypeError) as info:
        function(value)
    assert str(info.value).startswith("argument 'data': ")


@pytest.mark.parametrize("function", PATH_FUNCTIONS, ids=lambda f: f.__name__)
@pytest.mark.parametrize(
    "value", [pathlib.Path("x.bufr"), b"x.bufr", 0, None, bytearray(b"x")],
    ids=lambda v: type(v).__name__,
)
def test_path_must_be_str(function, value):
    with pytest.raises(TypeError) as info:
        function(value)
    assert str(info.value).startswith("argument 'path': ")


def test_bytes_subclass_and_keyword_accepted():
    assert parse_bytes(data=MESSAGE.data).unexpanded_descriptors == [1001, 301011]
    assert parse_bytes(BytesSubclass(MESSAGE.data)).total_length == len(MESSAGE)
    assert [m.total_length for m in parse_all_bytes(data=MESSAGE.data)] == [len(MESSAGE)]
    assert len(parse_all_bytes(BytesSubclass(MESSAGE.data))) == 1


def test_str_subclass_and_keyword_accepted(tmp_path):
    path = tmp_path / "one.bufr"
    path.write_bytes(MESSAGE.data)
    assert parse_file(path=str(path)).unexpanded_descriptors == [1001, 301011]
    assert parse_file(StrSubclass(path)).total_length == len(MESSAGE)
    assert len(parse_all_file(path=str(path))) == 1
    assert len(parse_all_file(StrSubclass(path))) == 1


@pytest.mark.parametrize(
    "function, name", [(parse_bytes, "data"), (parse_all_bytes, "data"),
                       (_quorvel.scan_messages, "data"), (parse_file, "path"),
                       (parse_all_file, "path")],
    ids=lambda v: getattr(v, "__name__", v),
)
def test_missing_extra_and_unknown_arguments(function, name):
    value = MESSAGE.data if name == "data" else "x.bufr"
    calls = [
        lambda: function(),
        lambda: function(value, value),
        lambda: function(value, **{name: value}),
        lambda: function(**{name + "_": value}),
        lambda: function(value, other=1),
    ]
    for call in calls:
        with pytest.raises(TypeError):
            call()


# The texts of CPython's own parser for functions whose arguments are all
# required: a surplus counts every argument, a gap names the first missing one.
@pytest.mark.parametrize(
    "call, text",
    [
        (lambda: parse_bytes(), "parse_bytes() missing required argument 'data' (pos 1)"),
        (lambda: parse_bytes(other=1), "parse_bytes() missing required argument 'data' (pos 1)"),
        (lambda: parse_file("a", "b"), "parse_file() takes at most 1 argument (2 given)"),
        (lambda: parse_all_bytes(data=b"", other=1),
         "parse_all_bytes() takes at most 1 keyword argument (2 given)"),
        (lambda: _quorvel.decode_values(b"", data=b""),
         "decode_values() missing required argument 'table_dir' (pos 2)"),
        (lambda: _quorvel.expand_descriptors(descriptors=[]),
         "expand_descriptors() missing required argument 'table_dir' (pos 1)"),
        (lambda: _quorvel.TableSet().get_meaning(1, code=1),
         "get_meaning() missing required argument 'raw' (pos 2)"),
        (lambda: _quorvel.TableSet.from_definitions("p", "m", "x"),
         "from_definitions() takes at most 2 arguments (3 given)"),
        (lambda: _quorvel.Descriptor(1, 2, 3, y=4), "Descriptor() takes at most 3 arguments (4 given)"),
        (lambda: _quorvel.TableSet(x=1), "TableSet() takes at most 0 keyword arguments (1 given)"),
        (lambda: _quorvel.TableSet(1), "TableSet() takes at most 0 arguments (1 given)"),
    ],
)
def test_argument_count_errors(call, text):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == text


def test_constants():
    assert _quorvel.ASSOCIATED_FIELD_CODE == 999999
    assert _quorvel.OPERATOR_NAME == "operator"
    assert (_quorvel.INSERTED_TEXT_NAME, _quorvel.UNKNOWN_ELEMENT_NAME) == ("text", "unknown")
    # The attributes of BufrMessage, in the order the class defines them.
    fields = _quorvel.BUFR_MESSAGE_FIELDS
    assert type(fields) is tuple and len(fields) == 28
    assert list(fields) == [name for name in vars(_quorvel.BufrMessage) if not name.startswith("_")]
    assert fields[0] == "total_length" and fields[-1] == "section4_data_length"


# ---------------------------------------------------------------------------
# Files.


def os_error_text(code):
    return f"{os.strerror(code)} (os error {code})"


@pytest.mark.parametrize("function", PATH_FUNCTIONS, ids=lambda f: f.__name__)
def test_missing_file_is_os_error(function, tmp_path):
    with pytest.raises(OSError) as info:
        function(str(tmp_path / "absent.bufr"))
    assert not isinstance(info.value, ValueError)
    assert str(info.value).endswith(f"(os error {errno.ENOENT})")
    assert info.value.args == (os_error_text(errno.ENOENT),)


@pytest.mark.parametrize("function", PATH_FUNCTIONS, ids=lambda f: f.__name__)
def test_directory_is_os_error(function, tmp_path):
    with pytest.raises(OSError) as info:
        function(str(tmp_path))
    assert str(info.value) == os_error_text(errno.EISDIR)


@pytest.mark.parametrize("function", PATH_FUNCTIONS, ids=lambda f: f.__name__)
def test_file_under_a_regular_file_is_os_error(function, tmp_path):
    plain = tmp_path / "plain"
    plain.write_bytes(b"")
    with pytest.raises(OSError) as info:
        function(str(plain / "child.bufr"))
    assert str(info.value) == os_error_text(errno.ENOTDIR)


# Run in a child, so that a reader that waits fails on the timeout instead of
# hanging the run, and one that reads /dev/zero for ever meets a memory limit.
_READ_IN_CHILD = """
import resource, sys
import _quorvel
resource.setrlimit(resource.RLIMIT_AS, (1 << 31, 1 << 31))
try:
    getattr(_quorvel, sys.argv[1])(sys.argv[2])
except OSError as error:
    print(type(error).__name__, repr(error.args))
"""


@pytest.mark.parametrize("function", PATH_FUNCTIONS, ids=lambda f: f.__name__)
@pytest.mark.parametrize("kind", ["fifo", "fifo-with-writer", "dev-zero"])
def test_fifo_or_device_is_os_error_without_waiting(function, kind, tmp_path):
    path = tmp_path / "special.bufr"
    writer = None
    if kind == "dev-zero":
        path.symlink_to("/dev/zero")
    else:
        os.mkfifo(path)
        if kind == "fifo-with-writer":
            writer = os.open(path, os.O_RDWR)
    try:
        child = subprocess.run(
            [sys.executable, "-c", _READ_IN_CHILD, function.__name__, str(path)],
            capture_output=True, text=True, timeout=30,
            env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    finally:
        if writer is not None:
            os.close(writer)
    assert child.stdout == f"OSError {(os_error_text(errno.EINVAL),)!r}\n", child.stderr


def test_empty_file(tmp_path):
    path = tmp_path / "empty.bufr"
    path.write_bytes(b"")
    with pytest.raises(ValueError, match="^message is too short to be BUFR$"):
        parse_file(str(path))
    assert parse_all_file(str(path)) == []


def test_file_content_is_parsed_like_bytes(tmp_path):
    built = build_message(
        originating_centre=98, section2=b"s2", descriptors=[307080], data=b"\1" * 7
    )
    path = tmp_path / "one.bufr"
    path.write_bytes(built.data)
    from_file = parse_file(str(path))
    from_bytes = parse_bytes(built.data)
    names = [
        n for n, v in vars(_quorvel.BufrMessage).items()
        if isinstance(v, types.GetSetDescriptorType)
    ]
    assert {n: getattr(from_file, n) for n in names} == {n: getattr(from_bytes, n) for n in names}
    assert from_file.originating_centre == 98


def test_file_errors_are_value_errors_from_the_parser(tmp_path):
    path = tmp_path / "bad.bufr"
    path.write_bytes(build_message(terminator=b"7778").data)
    with pytest.raises(ValueError, match="^section 5 terminator is not 7777$"):
        parse_file(str(path))
    with pytest.raises(ValueError, match="^section 5 terminator is not 7777$"):
        parse_all_file(str(path))


def test_file_with_junk_before_the_message(tmp_path):
    built = build_message(descriptors=[1001])
    path = tmp_path / "junk.bufr"
    path.write_bytes(b"ISMD01 ZZZZ 011200\r\r\n" + built.data)
    with pytest.raises(ValueError, match="^missing BUFR marker$"):
        parse_file(str(path))
    assert [m.unexpanded_descriptors for m in parse_all_file(str(path))] == [[1001]]
