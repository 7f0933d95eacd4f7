"""Shared fixtures: the data folder kept beside the repository."""

from __future__ import annotations

import os
from pathlib import Path

import pytest
from hypothesis import HealthCheck, settings

# Real BUFR files and tables live beside the repository, never inside it.
SHARED_DATA = Path(__file__).resolve().parents[2].parent / "shared" / "data"


# Under valgrind (scripts/valgrind.sh sets QUORVEL_HYPOTHESIS_PROFILE=valgrind)
# everything runs some forty times slower, generating examples included, so
# the health check on slow generation would fail tests that are fine. The
# number of examples stays each test's own.
settings.register_profile("valgrind", deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
if os.environ.get("QUORVEL_HYPOTHESIS_PROFILE"):
    settings.load_profile(os.environ["QUORVEL_HYPOTHESIS_PROFILE"])


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
