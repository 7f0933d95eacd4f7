#!/usr/bin/env bash
# Checks the layout and formatting, then builds everything and runs every
# test: the C++ tests with g++, the C++ tests again with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer, each fuzz target for 20
# seconds from its committed corpus, then the Python tests against the
# installed package. Arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh test

echo "== Layout and formatting"
scripts/check-layout.sh
find src tests fuzz benchmarks -type f \( -name '*.cpp' -o -name '*.hpp' \) -print0 |
  xargs -0 clang-format --dry-run --Werror

setup() {  # setup DIR [meson options...]
  local dir=$1
  shift
  if [ -f "$dir/build.ninja" ]; then
    meson setup --reconfigure "$dir" "$@" >/dev/null
  else
    meson setup "$dir" "$@" >/dev/null
  fi
}

echo "== C++ tests (g++)"
setup build/release -Dbuildtype=release -Dwerror=true -Dtests=enabled -Dbenchmarks=enabled
meson compile -C build/release
meson test -C build/release --print-errorlogs

echo "== C++ tests (clang, address and undefined-behaviour sanitizers)"
CC=clang CXX=clang++ setup build/sanitize -Dbuildtype=debug -Dwerror=true \
  -Db_sanitize=address,undefined -Db_lundef=false -Dcpp_args=-fno-sanitize-recover=all \
  -Dtests=enabled -Dbenchmarks=disabled
meson compile -C build/sanitize
meson test -C build/sanitize --print-errorlogs

echo "== Fuzz targets (clang, libFuzzer with address and undefined-behaviour sanitizers)"
scripts/fuzz.sh

echo "== Python tests"
scripts/install.sh
.venv/bin/python -m pytest tests/py -q -p no:cacheprovider "$@"
