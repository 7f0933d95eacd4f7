#!/usr/bin/env bash
# Installs what quorvel needs on a Debian 12 machine, skipping what is there:
# the Debian packages, then a venv (.venv) over Debian's /usr/bin/python3.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ clang libclang-rt-14-dev meson ninja-build pkg-config
  python3-dev python3-venv python3-mesonpy python3-pytest python3-hypothesis
  libexpected-dev libfmt-dev googletest libgtest-dev libbenchmark-dev
  libeccodes-data libeccodes-tools python3-eccodes python3-mypy
)
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
