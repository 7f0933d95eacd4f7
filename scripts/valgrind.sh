#!/usr/bin/env bash
# Runs the Python tests in one process under valgrind's memcheck, to find
# invalid reads and writes, uses of uninitialised memory and leaked blocks
# in the extension that the tests' own checks cannot see.
#
#   scripts/valgrind.sh [pytest arguments...]
#
# Extra arguments go to pytest as they are, e.g. `-k name` or `-x`; when one
# of them names a test file or folder (with or without ::test), only what
# they name runs, otherwise all of tests/py. The package must be
# installed in .venv first (scripts/install.sh); for stacks with file names
# and line numbers install it with debug information:
#
#   .venv/bin/python -m pip install --no-build-isolation --no-deps \
#       --config-settings=setup-args=-Ddebug=true .
#
# The exit status is valgrind's error code (99) when memcheck found an
# error or a definitely lost block, else pytest's own status. The full
# report is written to build/valgrind/memcheck.log (or $VALGRIND_LOG).
#
# "Definitely lost" blocks count as errors. "Possibly lost" and "still
# reachable" ones do not: CPython keeps interned strings, type objects and
# module state alive until exit and points into the middle of some of
# them, so these kinds are mostly the interpreter's; they are still listed
# in the log's LEAK SUMMARY, and a count that grows with the number of
# calls of one test is the sign to look there.
#
# Each Hypothesis test keeps its own number of examples; the "valgrind"
# profile of tests/py/conftest.py only drops the health check on slow
# generation. Child processes (the command-line tests, mypy) run natively.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed (apt-get install valgrind)" >&2
  exit 2
fi

log=${VALGRIND_LOG:-build/valgrind/memcheck.log}
mkdir -p "$(dirname "$log")"

# PYTHONMALLOC=malloc: every Python object comes from malloc, so memcheck
# sees each one instead of CPython's pooled arenas (whose reads of other
# blocks' headers it would report). Debian's python3.supp covers what
# remains of the interpreter's own deliberate tricks; valgrind.supp beside
# this script holds the few proven false positives of CPython, numpy and
# ecCodes that it does not.
export PYTHONMALLOC=malloc
export QUORVEL_HYPOTHESIS_PROFILE=${QUORVEL_HYPOTHESIS_PROFILE:-valgrind}

targets=(tests/py)
for arg in "$@"; do
  if [[ $arg != -* && -e ${arg%%::*} ]]; then
    targets=()
    break
  fi
done

status=0
valgrind --tool=memcheck \
  --suppressions=/usr/lib/valgrind/python3.supp \
  --suppressions=scripts/valgrind.supp \
  --error-exitcode=99 \
  --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
  --trace-children=no \
  --num-callers=40 \
  --log-file="$log" \
  .venv/bin/python -m pytest "${targets[@]}" -p no:cacheprovider "$@" || status=$?

# The summary lines, whatever the outcome; the stacks are in the log.
grep -E "ERROR SUMMARY|definitely lost:|indirectly lost:|possibly lost:|still reachable:" \
  "$log" | sed 's/^==[0-9]*== //' >&2 || true
echo "memcheck log: $log" >&2
exit "$status"
