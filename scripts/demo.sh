#!/usr/bin/env bash
# The main job: install quorvel and list the messages of the sample file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
.venv/bin/quorvel ls examples/synop.bufr
