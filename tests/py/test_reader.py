"""read_messages over every kind of source, its chunking and error modes, and
what a Message decodes to."""

import concurrent.futures
import gzip
import io
import mmap
import pickle
import warnings
from pathlib import Path

import pytest

import _quorvel
import quorvel
import quorvel._reader as reader
from builder import build_message
from decode_support import (
    BLOCK,
    FACTOR,
    REGION,
    STATION,
    TEMPERATURE,
    Element,
    bits,
    standard_tables,
    table_directory,
    write_tables,
)


def message(centre, **fields):
    return bytes(build_message(originating_centre=centre, descriptors=[1001], **fields))


FIRST, THIRD = message(1), message(3)
SECOND = message(2, data=bytes(range(256)) * 40)  # longer than the small chunks below
BROKEN = bytes(build_message(terminator=b"7776"))
CONTENTS = b"junk" + FIRST + b"BUF" + SECOND + THIRD + b"trailer BUFR"


class Trickle(io.RawIOBase):
    """A stream that gives at most seven octets per read, as a pipe may."""

    def __init__(self, data):
        self._data = io.BytesIO(data)

    def readable(self):
        return True

    def readinto(self, target):
        chunk = self._data.read(min(len(target), 7))
        target[:len(chunk)] = chunk
        return len(chunk)


def open_source(kind, data, tmp_path):
    path = tmp_path / "m.bufr"
    path.write_bytes(data)
    if kind == "str":
        return str(path)
    if kind == "path":
        return path
    if kind == "mmap":
        with open(path, "rb") as file:
            return mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)
    if kind == "gzip":
        (tmp_path / "m.gz").write_bytes(gzip.compress(data))
        return gzip.open(tmp_path / "m.gz")
    return {"bytes": bytes, "bytearray": bytearray, "memoryview": memoryview,
            "bytesio": io.BytesIO, "trickle": Trickle}[kind](data)


SOURCES = ["str", "path", "bytes", "bytearray", "memoryview", "mmap", "bytesio", "gzip", "trickle"]


@pytest.mark.parametrize("chunk", [5, 64, reader.CHUNK_SIZE])
@pytest.mark.parametrize("kind", SOURCES)
def test_every_source_gives_the_messages_in_place(kind, chunk, tmp_path, monkeypatch):
    monkeypatch.setattr(reader, "CHUNK_SIZE", chunk)
    # The trailing marker is cut short by the end: an error that hides nothing.
    found = list(quorvel.read_messages(open_source(kind, CONTENTS, tmp_path), on_error="skip"))
    offsets = [4, 4 + len(FIRST) + 3, 4 + len(FIRST) + 3 + len(SECOND)]
    assert [(m.index, m.offset, m.originating_centre, bytes(m.data)) for m in found] == \
        list(zip(range(3), offsets, [1, 2, 3], [FIRST, SECOND, THIRD]))
    expected_source = str(tmp_path / "m.bufr") if kind in ("str", "path") else None
    assert {m.source for m in found} == {expected_source if kind != "gzip"
                                         else str(tmp_path / "m.gz")}


@pytest.mark.parametrize("kind", ["bytes", "bytesio"])
def test_many_messages_take_many_steps(kind, tmp_path, monkeypatch):
    monkeypatch.setattr(reader, "CHUNK_SIZE", 100_000)
    count = 3 * 4096 + 5
    found = quorvel.read_messages(open_source(kind, FIRST * count, tmp_path))
    assert [m.offset for m in found] == [k * len(FIRST) for k in range(count)]


@pytest.mark.parametrize("kind", ["bytes", "trickle"])
def test_error_modes(kind, tmp_path):
    data = FIRST + BROKEN + SECOND + THIRD[:30]
    broken_at, cut_at = len(FIRST), len(FIRST + BROKEN + SECOND)

    def read(on_error):
        return quorvel.read_messages(open_source(kind, data, tmp_path), on_error=on_error)

    # Raising comes after the messages before the broken one.
    got = read("raise")
    assert next(got).originating_centre == 1
    with pytest.raises(quorvel.MessageError) as raised:
        next(got)
    assert (raised.value.index, raised.value.offset) == (1, broken_at)
    assert str(raised.value) == \
        f"<bytes>: message 1 at offset {broken_at}: section 5 terminator is not 7777"
    assert [m.index for m in read("skip")] == [0, 2]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert [m.index for m in read("warn")] == [0, 2]
    assert [(w.category, w.message.error.index, w.message.error.offset) for w in caught] == \
        [(quorvel.MessageWarning, 1, broken_at), (quorvel.MessageWarning, 3, cut_at)]


@pytest.mark.parametrize("call, error, text", [
    (lambda: quorvel.read_messages(b"", on_error="ignore"), ValueError, "on_error must be"),
    (lambda: quorvel.read_messages(3), TypeError, "not int"),
    (lambda: list(quorvel.read_messages(io.StringIO("BUFR"))), TypeError, "binary mode"),
    (lambda: list(quorvel.read_messages("/nonexistent/m.bufr")), FileNotFoundError, ""),
])
def test_bad_sources_and_modes(call, error, text):
    with pytest.raises(error, match=text):
        call()


def only(data, **fields):
    return next(quorvel.read_messages(bytes(build_message(data=data, **fields))))


def test_subsets_of_uncompressed_data_follow_their_replications():
    # Two subsets, the first replicating one temperature, the second three.
    data = bits((1, 8), (27315, 16), (3, 8), (27315, 16), (27415, 16), (27515, 16))
    decoded = only(data, descriptors=[101000, FACTOR.code, TEMPERATURE.code],
                   number_of_subsets=2).decode(tables=standard_tables())
    assert [len(s) for s in decoded.subsets] == [2, 4]
    assert [v for s in decoded.subsets for v in s] == decoded.values
    assert len(decoded) == 6 and decoded.tables is not None
    assert [(v.unit, v.raw_value) for v in decoded.subsets[1][1:]] == \
        [("K", 0.0), ("K", 1.0), ("K", 2.0)]


def test_subsets_of_compressed_data_hold_one_value_per_element():
    # Station numbers 5, 6, 7 (reference 5, increments of 2 bits) and a
    # region of 1 in every subset (no increments).
    data = bits((5, 10), (2, 6), (0, 2), (1, 2), (2, 2), (1, 3), (0, 6))
    decoded = only(data, descriptors=[STATION.code, REGION.code], number_of_subsets=3,
                   compressed=True).decode(tables=standard_tables())
    assert [[(v.raw, v.data) for v in s] for s in decoded.subsets] == \
        [[(n, float(n)), (1, "REGION I")] for n in (5, 6, 7)]


@pytest.mark.parametrize("compressed, descriptors, data, where", [
    # The second subset's station number lies past the end of the data.
    (False, [STATION.code], bits((5, 10)), (STATION.code, 0, 1)),
    # An element the tables lack, read once for every subset.
    (True, [STATION.code, 1099], bits((5, 10), (0, 6)), (1099, 1, None)),
])
def test_a_failed_decode_names_the_descriptor(compressed, descriptors, data, where):
    source = only(data, descriptors=descriptors, number_of_subsets=2, compressed=compressed)
    with pytest.raises(quorvel.MessageError) as raised:
        source.decode(tables=standard_tables())
    error = raised.value
    assert (error.descriptor, error.position, error.subset) == where
    subset = "" if where[2] is None else f" of subset {where[2] + 1}"
    assert str(error).endswith(f" (reading descriptor {where[0]:06d} at position {where[1]}"
                               f"{subset})")


def decode_rows(item):
    message, tables = item
    return [(v.descriptor, v.raw, v.unit) for v in message.decode(tables=tables).values]


def test_messages_values_and_tables_cross_to_other_processes():
    data = bits((5, 10), (6, 10))
    messages = list(quorvel.read_messages(bytes(build_message(
        descriptors=[STATION.code], data=data, number_of_subsets=2)) * 2))
    tables = quorvel.TableSet.from_eccodes(table_directory())
    values = messages[0].decode(tables=tables).values
    restored = pickle.loads(pickle.dumps((messages[0].header, values)))
    assert [(f, getattr(restored[0], f)) for f in _quorvel.BUFR_MESSAGE_FIELDS] == \
        [(f, getattr(messages[0], f)) for f in _quorvel.BUFR_MESSAGE_FIELDS]
    fields = ("descriptor", "name", "unit", "raw", "raw_value", "raw_text", "raw_meaning")
    assert [[getattr(v, f) for f in fields] for v in restored[1]] == \
        [[getattr(v, f) for f in fields] for v in values]
    with concurrent.futures.ProcessPoolExecutor(2) as pool:
        rows = list(pool.map(decode_rows, [(m, tables) for m in messages]))
    assert rows == [decode_rows((m, tables)) for m in messages]


# ---- Tables chosen under several roots and for newer master versions ------------------

LOCAL = Element(48001, "LOCAL ELEMENT", 7)


def master_root(root, *versions):
    for version in versions:
        write_tables(root / "bufr" / "tables" / "0" / "wmo" / str(version), [BLOCK])
    return root


def local_message(version=37):
    return bytes(build_message(descriptors=[48001], data=b"\x0e", originating_centre=98,
                               local_tables_version_number=1,
                               master_tables_version_number=version))


def test_earlier_roots_add_local_tables_and_are_looked_at_again(tmp_path):
    centre, system = tmp_path / "centre", master_root(tmp_path / "system", 37)
    centre.mkdir()
    (message,) = quorvel.read_messages(local_message(), definitions=[centre, system])
    with pytest.raises(quorvel.MessageError) as caught:
        message.decode()
    tables = f"{system}/bufr/tables/0"
    assert caught.value.tables == (f"{tables}/wmo/37", f"{centre}/bufr/tables/0/local/1/98/0",
                                   f"{tables}/local/1/98/0")
    assert str(caught.value).endswith("; tables tried: " + ", ".join(caught.value.tables))
    write_tables(centre / "bufr" / "tables" / "0" / "local" / "1" / "98" / "0", [LOCAL])
    [value] = message.decode().values
    assert (value.name, value.raw_value) == ("LOCAL ELEMENT", 7.0)


@pytest.mark.parametrize("installed, asked, used", [
    ((37,), 201, 37),       # newer than any: the newest
    ((30, 37), 33, 37),     # between two: the nearer newer one
    ((30, 37), 202, 37),
    ((3, 37), 2, 3),
])
def test_a_master_version_no_root_holds_takes_the_nearest(tmp_path, installed, asked, used):
    root = master_root(tmp_path, *installed)
    data = bytes(build_message(descriptors=[1001], data=b"\x0e",
                               master_tables_version_number=asked))
    (message,) = quorvel.read_messages(data, definitions=f"{tmp_path / 'absent'}:{root}")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert message.decode().values[0].raw_value == 7.0
        message.decode()
    # Once per pair of versions in a process; no other test asks for these.
    [text] = [str(warning.message) for warning in caught
              if warning.category is quorvel.TableVersionWarning]
    assert text.startswith(f"master tables version {asked} is not installed under ")
    assert f"; decoding with version {used}, the " in text
    # A descriptor missing then names both versions.
    missing = bytes(build_message(descriptors=[1002], data=b"\x00\x00",
                                  master_tables_version_number=asked))
    (other,) = quorvel.read_messages(missing, definitions=root)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        with pytest.raises(quorvel.MessageError) as failure:
            other.decode()
    assert failure.value.reason == ("descriptor 001002 was not found in Table B of master tables "
                                    f"version {used} (the message names version {asked}, which "
                                    "is not installed)")


def test_decode_values_with_definitions_keeps_the_version_a_message_names(tmp_path):
    root = master_root(tmp_path, 37)
    data = bytes(build_message(descriptors=[1001], data=b"\x0e", master_tables_version_number=38))
    with pytest.raises(ValueError, match="ecCodes table directory does not exist"):
        _quorvel.decode_values_with_definitions(data, str(root))
