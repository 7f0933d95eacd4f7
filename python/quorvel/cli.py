"""The ``quorvel`` command line: ``ls`` lists the messages of BUFR files, ``dump``
decodes them.

Messages are numbered from 1 in file order. A file or message that fails
gives one line "quorvel: FILE: [message N: ]REASON" on stderr and a non-zero
exit status; the rest of the run goes on.
"""

from __future__ import annotations

import argparse
import errno
import os
import sys
import warnings
from importlib import metadata
from typing import Any, Callable, Sequence, TextIO

import _quorvel

from quorvel._escape import json_dumps, json_text, printable
from quorvel._output import (
    header_record,
    listing_line,
    write_value_lines,
    write_value_columns,
    write_value_records,
)
from quorvel._keys import key_text, parse_conditions, parse_keys, selected
from quorvel._progress import Progress
from quorvel._reading import (
    FileContents,
    Slot,
    DEBIAN_DEFINITIONS,
    TableSource,
    decode_failure,
    read_messages,
)

EXIT_OK = 0
EXIT_FAILED = 1  # some file or message could not be read or decoded
EXIT_USAGE = 2  # argparse's status for a bad command line
EXIT_BROKEN_PIPE = 141  # 128 + SIGPIPE, what a shell shows for `cat` cut short by `head`

# Values printed per file before the rest of the file is given up: a message
# of a few dozen octets can declare millions of values.
DEFAULT_MAX_VALUES = 10_000_000


class _OutputError(Exception):
    """Writing to stdout failed: the reader went away, or the disk is full."""

    def __init__(self, error: OSError) -> None:
        super().__init__(error)
        self.error = error


class _Output:
    """stdout, with any failure to write turned into ``_OutputError`` so that
    it cannot be taken for the failure of an input file."""

    def __init__(self, stream: TextIO) -> None:
        self._stream = stream

    def write(self, text: str) -> None:
        try:
            self._stream.write(text)
        except OSError as error:
            raise _OutputError(error) from error

    def flush(self) -> None:
        try:
            self._stream.flush()
        except OSError as error:
            raise _OutputError(error) from error


class _JsonArray:
    """Writes one JSON array, an element at a time, so that a long run streams."""

    def __init__(self, out: _Output) -> None:
        self._out = out
        self._count = 0
        out.write("[")

    def next_item(self) -> None:
        """Starts an element; the caller writes it."""
        self._out.write(",\n" if self._count else "\n")
        self._count += 1

    def add(self, item: dict[str, Any]) -> None:
        self.next_item()
        self._out.write(json_dumps(item))

    def close(self) -> None:
        self._out.write("\n]\n" if self._count else "]\n")


class _Run:
    """What every command shares: the output streams, the error lines, the exit
    status, the progress bar and the JSON array."""

    def __init__(self, args: argparse.Namespace) -> None:
        self.out = _Output(sys.stdout)
        self.err: TextIO = sys.stderr
        self.status = EXIT_OK
        self.files: list[str] = args.files
        self.json = _JsonArray(self.out) if args.json else None
        self._progress = Progress(len(self.files), self.err)

    def fail(self, path: str, reason: str, slot: Slot | None = None) -> None:
        where = f"{path}: message {slot.index}" if slot is not None else path
        self.out.flush()
        _complain(f"{where}: {reason}")
        self.status = EXIT_FAILED

    def each_file(self, work: Callable[[str], None]) -> int:
        for done, path in enumerate(self.files, start=1):
            self._progress.clear()
            work(path)
            self.out.flush()
            self._progress.update(done, path)
        self._progress.clear()
        if self.json is not None:
            self.json.close()
        return self.status


def _complain(line: str) -> None:
    """Writes "quorvel: LINE" on stderr, escaped; a stderr that fails is let be."""
    try:
        sys.stderr.write(f"quorvel: {printable(line)}\n")
        sys.stderr.flush()
    except (OSError, AttributeError):
        pass


def _slot_record(slot: Slot) -> dict[str, Any]:
    return {
        "index": slot.index,
        "offset": slot.offset,
        "header": header_record(slot.message) if slot.message is not None else None,
        "error": slot.error,
    }


def _command_ls(args: argparse.Namespace) -> int:
    run = _Run(args)
    keys: list[str] = args.print_keys or []
    if keys and run.json is None:
        width = max(len(key) for key in keys) + 2
        run.out.write("".join(name.ljust(width) for name in [*keys, "message"]).rstrip() + "\n")

    def list_file(path: str) -> None:
        contents = read_messages(path)
        shown = []
        for slot in contents.slots:
            if slot.message is None:
                run.fail(path, str(slot.error), slot)
                shown.append(slot)
                continue
            if args.where and not selected(slot.message, args.where):
                continue
            shown.append(slot)
            if run.json is not None:
                continue
            if keys:
                texts = [*(key_text(slot.message, k) for k in keys), f"{path}:{slot.index}"]
                run.out.write("".join(t.ljust(width) for t in texts).rstrip() + "\n")
            else:
                run.out.write(listing_line(path, slot.index, slot.message) + "\n")
        if contents.error is not None:
            run.fail(path, contents.error)
        if run.json is not None:
            records = []
            for slot in shown:
                record = _slot_record(slot)
                if keys and slot.message is not None:
                    record["keys"] = {key: key_text(slot.message, key) for key in keys}
                records.append(record)
            run.json.add({"file": path, "error": contents.error, "messages": records})

    return run.each_file(list_file)


def _argument(parse: Callable[[str], Any]) -> Callable[[str], Any]:
    """``parse`` for argparse: its ValueError becomes a usage error."""

    def checked(text: str) -> Any:
        try:
            return parse(text)
        except ValueError as exc:
            raise argparse.ArgumentTypeError(str(exc)) from exc

    return checked


def _table_source(args: argparse.Namespace) -> TableSource | None:
    """The tables of a dump, or None after reporting why they cannot be had."""
    try:
        return TableSource(definitions=args.definitions, eccodes=args.tables, bufr4=args.bufr4)
    except (OSError, ValueError) as exc:
        reason = str(exc)
    if args.tables is not None:
        option = f"--tables {args.tables}"
    elif args.bufr4 is not None:
        option = f"--bufr4 {args.bufr4}"
    else:
        if args.definitions is not None:
            option = f"--definitions {args.definitions}"
        else:
            variable = os.environ.get("ECCODES_DEFINITION_PATH")
            option = f"--definitions {variable or DEBIAN_DEFINITIONS}"
        reason += " (install Debian's libeccodes-data, or give --tables or --bufr4)"
    _complain(f"{option}: {reason}")
    return None


def _selected(contents: FileContents, number: int | None) -> tuple[list[Slot], str | None]:
    """The slots to decode, and the failure of the file itself to report.

    A file that cannot be read to its end still gives the messages before the
    trouble; with ``--message N`` the trouble counts only when it hides message N.
    """
    if number is None:
        return contents.slots, contents.error
    if number <= len(contents.slots):
        return [contents.slots[number - 1]], None
    if contents.error is not None:
        return [], contents.error
    count = len(contents.slots)
    return [], f"no message {number}: the file holds {count} message{'s' if count != 1 else ''}"


def _json_or_null(text: str | None) -> str:
    return "null" if text is None else json_text(text)


def _command_dump(args: argparse.Namespace) -> int:
    found = _table_source(args)
    if found is None:
        return EXIT_FAILED
    source: TableSource = found
    run = _Run(args)
    out = run.out
    printed = False

    def dump_file(path: str) -> None:
        nonlocal printed
        slots, error = _selected(read_messages(path, source.definitions), args.message)
        if run.json is not None:
            run.json.next_item()
            out.write(f'{{"file": {json_text(path)}, "error": {_json_or_null(error)}, "messages": [')
        remaining = args.max_values
        for number, slot in enumerate(slots):
            values: list[_quorvel.DecodedValue] | None = None
            reason = slot.error
            if slot.message is not None:
                try:
                    with warnings.catch_warnings(record=True) as caught:
                        warnings.simplefilter("always", _quorvel.TableVersionWarning)
                        decoded = source.decode(slot.message)
                    values, tables = decoded.values, decoded.tables
                except _quorvel.MessageError as exc:
                    reason = decode_failure(exc)
                for warning in caught:
                    _complain(f"{path}: message {slot.index}: warning: {warning.message}")
            shown = 0 if values is None else min(len(values), remaining)
            stopped = values is not None and shown < len(values)
            if stopped:
                reason = f"stopped: more than {args.max_values} values to print (--max-values)"
            if run.json is not None:
                record = _slot_record(slot)
                record["error"] = reason
                head = json_dumps(record)[:-1]  # the values close the record
                out.write(f"{', ' if number else ''}{head}, \"values\": ")
                if values is None:
                    out.write("null}")
                elif slot.message is not None and slot.message.compressed_data and values:
                    # Every subset holds the same elements: one column each.
                    out.write("null, \"columns\": ")
                    per_subset = len(values) // slot.message.number_of_subsets
                    write_value_columns(out.write, values, shown, per_subset)
                    out.write("}")
                else:
                    write_value_records(out.write, values, shown, tables)
                    out.write("}")
            elif values is not None:
                assert slot.message is not None
                if printed:
                    out.write("\n")
                printed = True
                out.write(listing_line(path, slot.index, slot.message) + "\n")
                write_value_lines(out.write, values, shown, tables)
            if reason is not None:
                run.fail(path, reason, slot)
            if stopped:
                break
            remaining -= shown
        if run.json is not None:
            out.write("]}")
        if error is not None:
            run.fail(path, error)

    return run.each_file(dump_file)


def _counting(what: str) -> Callable[[str], int]:
    def parse(text: str) -> int:
        try:
            number = int(text)
        except ValueError:
            number = 0
        if number < 1:
            raise argparse.ArgumentTypeError(f"not {what} (1, 2, ...): {text!r}")
        return number

    return parse


def _version() -> str:
    try:
        return metadata.version("quorvel")
    except metadata.PackageNotFoundError:
        return "unknown (not installed)"


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quorvel",
        description="List and decode WMO BUFR messages of editions 2, 3 and 4.",
        epilog="Messages are numbered from 1 in file order. Exit status: 0 when every "
        "file and message was read, 1 when any failed, 2 for a bad command line.",
    )
    parser.add_argument("--version", action="version", version=f"quorvel {_version()}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    ls = commands.add_parser(
        "ls",
        help="list the messages of each file, one line each",
        description="List the messages of each FILE, one line per message: "
        "FILE:N, centre/sub-centre, data category/international/local subcategory, "
        "master and local table versions, typical date and time, subsets, "
        "compression and the first descriptors.",
    )
    ls.add_argument("files", nargs="+", metavar="FILE")
    ls.add_argument("--json", action="store_true", help="write one JSON array instead")
    ls.add_argument(
        "-w",
        "--where",
        type=_argument(parse_conditions),
        metavar="KEY=V1/V2,KEY!=V",
        help="list only the messages whose header keys (ecCodes names, see docs/cli.md) "
        "take one of the values given after =, and none of those after !=",
    )
    ls.add_argument(
        "-p",
        "--print",
        dest="print_keys",
        type=_argument(parse_keys),
        metavar="KEY,KEY",
        help="print these header keys (ecCodes names) for each message, under a heading line",
    )
    ls.set_defaults(run=_command_ls)

    dump = commands.add_parser(
        "dump",
        help="decode messages and print their values",
        description="Decode the messages of each FILE and print their values, "
        "one per line: descriptor FXXYYY, name, value with its unit, and the "
        "code-table meaning where the tables have one.",
    )
    dump.add_argument("files", nargs="+", metavar="FILE")
    dump.add_argument(
        "--message",
        "-m",
        type=_counting("a message number"),
        metavar="N",
        help="decode only message N of each file (counted from 1); default: all",
    )
    dump.add_argument(
        "--max-values",
        type=_counting("a number of values"),
        default=DEFAULT_MAX_VALUES,
        metavar="N",
        help="print at most N values of each file, then report it and go on with the "
        "next file (default: %(default)s)",
    )
    dump.add_argument("--json", action="store_true", help="write one JSON array instead")
    tables = dump.add_mutually_exclusive_group()
    tables.add_argument(
        "--definitions",
        metavar="DIR",
        help="ecCodes definitions root, or several joined by colons: each message is decoded "
        "with the master and local tables it names (default: the directories of "
        "$ECCODES_DEFINITION_PATH, else /usr/share/eccodes/definitions, from Debian's "
        "libeccodes-data)",
    )
    tables.add_argument(
        "--tables",
        metavar="DIR",
        help="one ecCodes-style table directory (element.table, sequence.def, codetables/)",
    )
    tables.add_argument(
        "--bufr4",
        metavar="DIR",
        help="a directory of WMO BUFR4 CSV tables (BUFRCREX_TableB_en_*.csv, BUFR_TableD_en_*.csv)",
    )
    dump.set_defaults(run=_command_dump)
    return parser


def _silence_stdout() -> None:
    """Points stdout at /dev/null, so that the flush at exit cannot fail again."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line on ``argv`` (default: ``sys.argv[1:]``); returns the exit status."""
    if sys.stdout is None:  # started with stdout closed
        _complain(f"standard output: {os.strerror(errno.EBADF)}")
        return EXIT_FAILED
    args = _parser().parse_args(argv)
    try:
        status: int = args.run(args)
        _Output(sys.stdout).flush()
    except _OutputError as failure:
        _silence_stdout()
        if failure.error.errno == errno.EPIPE:
            # The reader went away (``quorvel dump ... | head``): stop quietly.
            return EXIT_BROKEN_PIPE
        _complain(f"standard output: {failure.error.strerror or failure.error}")
        return EXIT_FAILED
    except KeyboardInterrupt:
        return 130
    return status
