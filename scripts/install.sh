#!/usr/bin/env bash
# Builds quorvel and installs it into .venv (after ensure-deps.sh run).
#
# The wheel is built in build/py, which is kept, so that a change recompiles
# only what it touches; and when the sources are those the installed copy was
# built from (the hash in .venv/quorvel-sources), nothing is built at all.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh run

stamp=.venv/quorvel-sources
# Everything that goes into the installed package. README.md only feeds the
# wheel's long description, which nothing reads, so editing it costs nothing.
sources=$(find meson.build meson_options.txt pyproject.toml src python \
  -type f ! -name '*.pyc' -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum)
if [ -x .venv/bin/quorvel ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$sources" ]; then
  exit 0
fi
rm -f "$stamp"
mkdir -p build/py
.venv/bin/python -m pip install --no-build-isolation --no-deps --quiet \
  --disable-pip-version-check --config-settings=builddir="$PWD/build/py" .
printf '%s\n' "$sources" >"$stamp"
