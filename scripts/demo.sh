#!/usr/bin/env bash
# The main job: install quorvel and decode the sample file with the WMO tables
# of Debian's libeccodes-data, printing every value.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
.venv/bin/quorvel dump examples/synop.bufr
