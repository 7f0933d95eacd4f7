"""The ``quorvel`` command line."""

from __future__ import annotations

import argparse
import sys
from typing import Sequence, TextIO

import _quorvel


def _list_file(path: str, out: TextIO, err: TextIO) -> bool:
    try:
        messages = _quorvel.parse_all_file(path)
    except (OSError, ValueError) as exc:
        print(f"quorvel: {path}: {exc}", file=err)
        return False
    if not messages:
        print(f"quorvel: {path}: no BUFR message found", file=err)
        return False
    for message in messages:
        print(f"{path}: {message!r}", file=out)
    return True


def _command_ls(args: argparse.Namespace) -> int:
    ok = True
    for path in args.files:
        ok = _list_file(path, sys.stdout, sys.stderr) and ok
    return 0 if ok else 1


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quorvel", description="Read WMO BUFR edition-4 messages."
    )
    commands = parser.add_subparsers(dest="command", required=True)
    ls = commands.add_parser("ls", help="list the messages of each file, one line each")
    ls.add_argument("files", nargs="+", metavar="FILE")
    ls.set_defaults(run=_command_ls)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    return int(args.run(args))
