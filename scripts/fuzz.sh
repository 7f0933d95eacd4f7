#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ in build/fuzz and runs them.
#
#   scripts/fuzz.sh                    every target for 20 seconds (CI)
#   scripts/fuzz.sh TARGET [SECONDS]   one target (e.g. decode_message), 20 s by default
#   scripts/fuzz.sh all SECONDS        every target for SECONDS each
#
# Each run starts from a temporary copy of fuzz/corpus/<target>, plus seeds
# made from ../shared/data and the installed ecCodes tables when they are
# there, so nothing under the repository changes. Every input is held to one
# second and 256 MB (-timeout, -rss_limit_mb) and to 64 KB (-max_len).
# Crash, timeout and out-of-memory inputs are kept in build/fuzz/artifacts/.
# Set FUZZ_TIMEOUT=SECONDS for a longer -timeout where the runs share a busy
# machine at low priority (libFuzzer measures wall time); any input that
# takes over a second is then kept as a slow-unit artifact to be timed again.
# Set FUZZ_KEEP=DIR to keep each run's grown corpus and log in DIR,
# FUZZ_SEEDS=DIR to start from DIR/<target> too (a kept corpus), and
# FUZZ_BIN=DIR to run targets built before (copied to DIR) without building,
# so that a long campaign is not affected by edits made while it runs.
# Exits non-zero when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

targets=(parse parse_any_edition element_table sequence_def code_tables bufr4_csv expansion
  decode_uncompressed decode_compressed decode_message bit_reader)
seconds=20
selected=("${targets[@]}")
if (($# >= 1)) && [ "$1" != all ]; then
  name=${1#fuzz_}
  if [[ " ${targets[*]} " != *" $name "* ]]; then
    echo "unknown target '$1'; targets: ${targets[*]}" >&2
    exit 2
  fi
  selected=("$name")
fi
if (($# >= 2)); then
  seconds=$2
fi

build=build/fuzz
bin=${FUZZ_BIN:-$build/fuzz}
if [ -z "${FUZZ_BIN:-}" ]; then
  if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ meson setup "$build" -Dfuzz=enabled -Dbuildtype=debugoptimized \
      -Dwerror=true -Dtests=disabled -Dbenchmarks=disabled >/dev/null
  fi
  meson compile -C "$build" "${selected[@]/#/fuzz_}" >/dev/null
fi

shared=$repo/../shared/data
eccodes=/usr/share/eccodes/definitions/bufr/tables/0/wmo/37
artifacts=$repo/$build/artifacts
mkdir -p "$artifacts"

scratch_parent=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch_parent=/dev/shm; fi
work=$(mktemp -d "$scratch_parent/quorvel-fuzz-run-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Seeds for TARGET from files outside the repository, into directory $2.
outside_seeds() {
  local target=$1 out=$2 file
  mkdir -p "$out"
  case $target in
    parse | parse_any_edition | decode_message)
      if [ -d "$shared/bufr" ]; then
        find "$shared/bufr" -type f \( -iname '*.bufr' -o -name '*.bin' -o -name '*.bufr4' \) \
          -print0 | while IFS= read -r -d '' file; do
          cp "$file" "$out/$(basename "$file")"
        done
      fi
      ;;
    bufr4_csv)
      # The input is Table B, then a NUL and Table D.
      if [ -d "$shared/wmo-bufr4-csv" ]; then
        for file in "$shared"/wmo-bufr4-csv/BUFRCREX_TableB_en_*.csv; do
          cp "$file" "$out/$(basename "$file")"
        done
        for file in "$shared"/wmo-bufr4-csv/BUFR_TableD_en_*.csv; do
          { printf '\0'; cat "$file"; } >"$out/$(basename "$file")"
        done
      fi
      ;;
    element_table)
      if [ -f "$eccodes/element.table" ]; then cp "$eccodes/element.table" "$out/"; fi
      ;;
    sequence_def)
      if [ -f "$eccodes/sequence.def" ]; then cp "$eccodes/sequence.def" "$out/"; fi
      ;;
    code_tables)
      # The input is a file name stem on its first line, then the content.
      if [ -d "$eccodes/codetables" ]; then
        for file in $(ls "$eccodes/codetables" | head -40); do
          { printf '%s\n' "${file%.table}"; cat "$eccodes/codetables/$file"; } >"$out/$file"
        done
      fi
      ;;
  esac
}

failed=()
for target in "${selected[@]}"; do
  corpus=$work/$target/corpus
  seeds=$work/$target/seeds
  mkdir -p "$corpus" "$work/$target/tmp"
  cp fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  if [ -n "${FUZZ_SEEDS:-}" ] && [ -d "$FUZZ_SEEDS/$target" ]; then
    cp "$FUZZ_SEEDS/$target"/* "$corpus"/ 2>/dev/null || true
  fi
  outside_seeds "$target" "$seeds"
  echo "== fuzz_$target: $seconds s, $(ls "$corpus" | wc -l) committed and" \
    "$(ls "$seeds" | wc -l) outside seeds"
  log=$work/$target/log
  status=0
  TMPDIR=$work/$target/tmp "$bin/fuzz_$target" \
    -max_total_time="$seconds" -timeout="${FUZZ_TIMEOUT:-1}" -report_slow_units=1 \
    -rss_limit_mb=256 -max_len=65536 -artifact_prefix="$artifacts/$target-" -print_final_stats=1 \
    "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz_$target FAILED (exit $status); inputs in $artifacts" >&2
    failed+=("$target")
  fi
  if [ -n "${FUZZ_KEEP:-}" ]; then
    mkdir -p "$FUZZ_KEEP/$target"
    cp "$corpus"/* "$FUZZ_KEEP/$target"/ 2>/dev/null || true
    cp "$log" "$FUZZ_KEEP/$target.log"
  fi
done

if ((${#failed[@]})); then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
