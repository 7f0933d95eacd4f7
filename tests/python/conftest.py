"""Shared fixtures: the data folder kept beside the repository."""

from __future__ import annotations

from pathlib import Path

import pytest

# Real BUFR files and tables live beside the repository, never inside it.
SHARED_DATA = Path(__file__).resolve().parents[2].parent / "shared" / "data"


def shared_data_path(*parts: str) -> Path:
    """A path under the shared data folder; skips the test when it is absent."""
    path = SHARED_DATA.joinpath(*parts)
    if not path.exists():
        pytest.skip(f"shared data not available: {path}")
    return path


@pytest.fixture
def shared_data() -> Path:
    return shared_data_path()


@pytest.fixture
def shared_bufr() -> Path:
    return shared_data_path("bufr")
