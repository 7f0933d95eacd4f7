#!/usr/bin/env bash
# Installs the Debian packages quorvel needs on a Debian 12 machine, skipping
# those already installed, then makes a venv (.venv) over /usr/bin/python3.
#
#   scripts/ensure-deps.sh run    what building the extension and decoding need
#   scripts/ensure-deps.sh test   that, plus the tools scripts/test.sh runs
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-run}
run_packages=(
  g++ meson ninja-build
  pkg-config         # how meson finds fmt (and, for the tests, gtest)
  python3-dev        # Python.h and the extension's link flags
  python3-venv       # .venv, with the pip that installs quorvel into it
  python3-mesonpy    # the build backend pip calls
  libexpected-dev libfmt-dev
  libeccodes-data    # the WMO tables the demo decodes with
)
test_packages=(
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev  # the sanitizer builds and the libFuzzer targets
  clang-format
  python3-pytest python3-hypothesis
  python3-mypy                       # checks the type stubs
  libeccodes-tools python3-eccodes   # the decoding cross-checks (bufr_dump, eccodes)
)
case $mode in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: $0 [run|test]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  echo "installing: ${missing[*]}" >&2
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

if [ ! -x .venv/bin/python ]; then
  /usr/bin/python3 -m venv --system-site-packages .venv
fi
