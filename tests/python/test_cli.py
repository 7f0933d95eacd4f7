"""The quorvel command line, run as `python -m quorvel`."""

import errno
import os
import subprocess
import sys

import pytest

from builder import build_message


def run_cli(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", "quorvel", *args],
        capture_output=True, text=True, timeout=60, cwd=cwd,
    )


@pytest.fixture
def files(tmp_path):
    two = tmp_path / "two.bufr"
    two.write_bytes(
        b"ISMD01 ZZZZ 011200\r\r\n"
        + build_message(descriptors=[301001, 12101], data=bytes(3)).data
        + build_message(number_of_subsets=3, descriptors=[307080]).data
    )
    one = tmp_path / "one.bufr"
    one.write_bytes(build_message().data)
    text = tmp_path / "notes.txt"
    text.write_bytes(b"plain text and nothing else\n")
    broken = tmp_path / "broken.bufr"
    broken.write_bytes(build_message(edition=3).data)
    return {
        "two": str(two),
        "one": str(one),
        "broken": str(broken),
        "text": str(text),
        "missing": str(tmp_path / "missing.bufr"),
        "directory": str(tmp_path),
    }


EXPECTED_LINES = {
    "two": [
        "BufrMessage(edition=4, length=52, subsets=1, descriptors=[301001, 12101])",
        "BufrMessage(edition=4, length=47, subsets=3, descriptors=[307080])",
    ],
    "one": ["BufrMessage(edition=4, length=45, subsets=1, descriptors=[])"],
}


def test_ls_prints_one_line_per_message(files, tmp_path):
    result = run_cli("ls", files["two"], files["one"], cwd=tmp_path)
    assert result.returncode == 0
    assert result.stderr == ""
    assert result.stdout.splitlines() == [
        f"{files[name]}: {line}" for name in ("two", "one") for line in EXPECTED_LINES[name]
    ]


@pytest.mark.parametrize(
    "bad, error",
    [
        ("missing", f"{os.strerror(errno.ENOENT)} (os error {errno.ENOENT})"),
        ("broken", "unsupported BUFR edition 3; only edition 4 is implemented"),
        ("directory", f"{os.strerror(errno.EISDIR)} (os error {errno.EISDIR})"),
        ("text", "no BUFR message found"),
    ],
)
def test_ls_reports_a_bad_file_and_goes_on(files, tmp_path, bad, error):
    result = run_cli("ls", files["one"], files[bad], files["two"], cwd=tmp_path)
    assert result.returncode != 0
    assert result.stderr.splitlines() == [f"quorvel: {files[bad]}: {error}"]
    assert result.stdout.splitlines() == [
        f"{files[name]}: {line}" for name in ("one", "two") for line in EXPECTED_LINES[name]
    ]


def test_ls_needs_a_file(tmp_path):
    result = run_cli("ls", cwd=tmp_path)
    assert result.returncode != 0
    assert result.stdout == ""
