"""The documentation: its examples run and print what it shows, and its
references cover every name of the module and every option of the command line.

In docs/*.md and README.md, a ```python block holding ">>>" runs as a doctest
and any other ```python block runs as it stands; the blocks of one page share
one namespace, in page order. A ```console block is a shell transcript: each
"$ " line (with "> " continuation lines) runs in bash from the repository
root, with `quorvel` and `python` standing for this interpreter, and must
print exactly the lines below it (stdout and stderr as they interleave).
"""

from __future__ import annotations

import doctest
import os
import re
import stat
import subprocess
import sys
from pathlib import Path

import pytest

from module_names import entry_points
from quorvel import cli
from quorvel._reading import DEBIAN_DEFINITIONS

ROOT = Path(__file__).resolve().parents[2]
DOCS = ROOT / "docs"
PAGES = sorted(DOCS.glob("*.md")) + [ROOT / "README.md"]
DEFINITIONS = Path(DEBIAN_DEFINITIONS)

FENCE = re.compile(r"^```(\w*)\n(.*?)^```", re.MULTILINE | re.DOTALL)


def blocks(page: Path, language: str) -> list[tuple[int, str]]:
    text = page.read_text()
    return [
        (text.count("\n", 0, match.start()) + 2, match.group(2))
        for match in FENCE.finditer(text)
        if match.group(1) == language
    ]


def needs(text: str) -> str | None:
    """Why a block cannot run here, or None."""
    if str(DEFINITIONS) in text and not DEFINITIONS.is_dir():
        return f"{DEFINITIONS} is not installed (libeccodes-data)"
    if "../shared" in text and not (ROOT.parent / "shared" / "data").is_dir():
        return "shared data not available"
    return None


def page_id(page: Path) -> str:
    return str(page.relative_to(ROOT))


@pytest.mark.parametrize("page", [p for p in PAGES if blocks(p, "python")], ids=page_id)
def test_python_examples_run(page, monkeypatch):
    monkeypatch.chdir(ROOT)
    namespace: dict[str, object] = {"__name__": "__docs__"}
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    for line, code in blocks(page, "python"):
        reason = needs(code)
        if reason is not None:
            pytest.skip(f"{page_id(page)}:{line}: {reason}")
        name = f"{page_id(page)}:{line}"
        if ">>>" not in code:
            exec(compile(code, name, "exec"), namespace)
            continue
        test = parser.get_doctest(code, namespace, name, str(page), line)
        runner.run(test, clear_globs=False)
        namespace.update(test.globs)
    assert runner.summarize(verbose=False).failed == 0, "a documented example printed otherwise"


def transcript(code: str) -> list[tuple[str, list[str]]]:
    """The commands of a console block with the output shown after each."""
    steps: list[tuple[str, list[str]]] = []
    for line in code.splitlines():
        if line.startswith("$ "):
            steps.append((line[2:], []))
        elif line.startswith("> ") and steps and not steps[-1][1]:
            steps[-1] = (steps[-1][0] + "\n" + line[2:], [])
        else:
            assert steps, f"output before any command: {line!r}"
            steps[-1][1].append(line)
    return steps


@pytest.fixture(scope="module")
def command_dir(tmp_path_factory):
    """A folder for PATH where `quorvel` and `python` run this interpreter."""
    folder = tmp_path_factory.mktemp("bin")
    for name, body in (("quorvel", '-m quorvel "$@"'), ("python", '"$@"')):
        script = folder / name
        script.write_text(f'#!/bin/sh\nexec "{sys.executable}" {body}\n')
        script.chmod(script.stat().st_mode | stat.S_IXUSR)
    return folder


CONSOLE = [
    pytest.param(page, line, code, id=f"{page_id(page)}:{line}")
    for page in PAGES
    for line, code in blocks(page, "console")
]


@pytest.mark.parametrize("page, line, code", CONSOLE)
def test_console_transcripts_match(page, line, code, command_dir):
    reason = needs(code)
    if reason is not None:
        pytest.skip(reason)
    environment = dict(os.environ, PATH=f"{command_dir}{os.pathsep}{os.environ['PATH']}")
    for command, shown in transcript(code):
        result = subprocess.run(
            ["bash", "-c", command],
            cwd=ROOT, env=environment, text=True, timeout=120,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
        )
        assert result.stdout.splitlines() == shown, command


def documented_names(page: Path) -> set[str]:
    """Every identifier inside a `code span` of the page."""
    spans = re.findall(r"`([^`\n]+)`", page.read_text())
    return {name for span in spans for name in re.findall(r"[A-Za-z_]\w*", span)}


def test_api_reference_names_every_function_class_and_member():
    names = documented_names(DOCS / "api.md")
    expected = {entry.rsplit(".", 1)[-1] for entry in entry_points()}
    assert expected - names == set()


def test_cli_reference_names_every_option():
    text = (DOCS / "cli.md").read_text()
    parser = cli._parser()
    commands = next(a for a in parser._actions if a.dest == "command").choices
    options = {
        option
        for command in commands.values()
        for action in command._actions
        for option in action.option_strings
    }
    assert options, "no options found"
    shown = {
        token
        for span in re.findall(r"`([^`\n]+)`", text)
        for token in re.findall(r"--?[a-z][a-z0-9-]*", span)
    }
    assert options - shown == set()


def test_pages_link_to_existing_pages():
    for page in PAGES:
        for target in re.findall(r"\]\(([^)#:]+\.md)\)", page.read_text()):
            assert (page.parent / target).is_file(), f"{page_id(page)} links to {target}"

