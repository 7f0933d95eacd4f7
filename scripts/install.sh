#!/usr/bin/env bash
# Builds quorvel and installs it into .venv (after ensure-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
.venv/bin/python -m pip install --no-build-isolation --no-deps --quiet --disable-pip-version-check .
