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
# meson-python 0.12 asks for a reconfigure whenever its native file is
# already there, and a reconfigure of a folder that holds no build (made by an
# install without build/py, or an interrupted one) fails without falling back
# to a fresh setup: start such a folder afresh, native file included.
if [ ! -f build/py/meson-private/coredata.dat ]; then
  rm -rf build/py .mesonpy-native-file.ini
fi
mkdir -p build/py
.venv/bin/python -m pip install --no-build-isolation --no-deps --quiet \
  --disable-pip-version-check --config-settings=builddir="$PWD/build/py" .
printf '%s\n' "$sources" >"$stamp"
