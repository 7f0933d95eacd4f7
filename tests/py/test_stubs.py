"""The type stubs of _quorvel: they match the module, mypy reads them, and an
installed quorvel carries them where mypy looks."""

from __future__ import annotations

import importlib.util
import os
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import _quorvel

ROOT = Path(__file__).resolve().parents[2]
STUB = ROOT / "python" / "_quorvel.pyi"

pytestmark = pytest.mark.skipif(
    importlib.util.find_spec("mypy") is None, reason="mypy is not installed (python3-mypy)")

USES = '''
import _quorvel
import quorvel

def temperatures(path: str, root: str) -> list[float]:
    data = open(path, "rb").read()
    message: _quorvel.BufrMessage = quorvel.parse_all_file(path)[0]
    tables = quorvel.TableSet.from_definitions(root, message)
    element = tables.get_element(12101)
    assert element is not None
    width: int = element.width + message.typical_year
    found: list[float] = []
    for value in _quorvel.decode_values_with_tables(data, tables):
        if value.descriptor == 12101 and value.raw_value is not None:
            found.append(value.raw_value)
    descriptor = quorvel.Descriptor(3, 1, 11)
    members: list[int] = tables.expand([descriptor.fxy]) + descriptor.f.bit_length() * [width]
    shown: str | float | None = quorvel.decode_values(data, root)[0].data
    print(members, shown, tables.get_meaning(8002, 7), _quorvel.Descriptor.from_fxy(1001).fxy)
    return found
'''

# Each line misuses the module once; mypy must say so on that line.
MISUSES = '''
import _quorvel

message = _quorvel.parse_bytes(b"")
_quorvel.parse_file(b"file.bufr")
message.typical_year = 2024
text: str = message.total_length
_quorvel.decode_values_with_tables(b"", "/tables")
width: int = _quorvel.TableSet().get_element(1001).width
_quorvel.parse_all_bytes("text")
_quorvel.BufrMessage.from_fxy(1)
class Mine(_quorvel.TableSet): ...
meaning: str = _quorvel.TableSet().get_meaning(1, 2)
'''


def mypy(tmp_path: Path, source: str, *, stubs_from_repository: bool):
    script = tmp_path / "script.py"
    script.write_text(source)
    environment = dict(os.environ)
    environment.pop("MYPYPATH", None)
    if stubs_from_repository:
        environment["MYPYPATH"] = str(STUB.parent)
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--show-error-codes",
         "--cache-dir", str(tmp_path / "cache"), str(script)],
        capture_output=True, text=True, timeout=300, cwd=tmp_path, env=environment,
    )


def test_stubs_match_the_module(tmp_path):
    # stubtest imports the module and compares every name and signature.
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "_quorvel", "--mypy-config-file", os.devnull],
        capture_output=True, text=True, timeout=300, cwd=tmp_path,
        env=dict(os.environ, MYPYPATH=str(STUB.parent),
                 PYTHONPATH=str(Path(_quorvel.__file__).resolve().parent)),
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_accepts_correct_use(tmp_path):
    result = mypy(tmp_path, USES, stubs_from_repository=True)
    assert (result.returncode, result.stdout) == (0, ""), result.stderr


def test_mypy_reports_each_misuse(tmp_path):
    result = mypy(tmp_path, MISUSES, stubs_from_repository=True)
    lines = [n for n, line in enumerate(MISUSES.splitlines(), start=1) if line.strip()
             and not line.startswith(("import", "message = "))]
    reported = sorted({int(line.split(":")[1]) for line in result.stdout.splitlines()
                       if ": error:" in line})
    assert reported == lines, result.stdout


def installed_site() -> Path:
    location = Path(_quorvel.__file__).parent
    if location != Path(sysconfig.get_paths()["platlib"]):
        pytest.skip(f"_quorvel is not installed here but loaded from {location}")
    return location


def test_installed_stubs_are_the_repository_stubs():
    site = installed_site()
    stub = STUB.read_text()
    assert (site / "_quorvel.pyi").read_text() == stub
    assert (site / "_quorvel-stubs" / "__init__.pyi").read_text() == stub
    assert (site / "quorvel" / "py.typed").is_file()


def test_mypy_finds_the_installed_stubs(tmp_path):
    installed_site()
    result = mypy(tmp_path, USES, stubs_from_repository=False)
    assert (result.returncode, result.stdout) == (0, ""), result.stderr
    result = mypy(tmp_path, MISUSES, stubs_from_repository=False)
    assert result.returncode == 1 and "[arg-type]" in result.stdout
