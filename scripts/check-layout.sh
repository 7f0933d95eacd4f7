#!/usr/bin/env bash
# Fails when the core's dependencies stop pointing down: a folder of src/core
# includes only itself and the folders below it (decode -> tables -> message
# -> base), never the binding (src/py), and nothing in src/core includes
# Python.h. Prints one line per offending include.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A below=(
  [base]="base"
  [message]="message base"
  [tables]="tables message base"
  [decode]="decode tables message base"
)

status=0
report() {  # report FILE LINE TEXT
  echo "$1:$2: $3" >&2
  status=1
}

while IFS= read -r -d '' file; do
  room=${file#src/core/}
  room=${room%%/*}
  if [ -z "${below[$room]+set}" ]; then
    report "$file" 1 "not in one of the folders of src/core: ${!below[*]}"
    continue
  fi
  while IFS=: read -r line directive; do
    [[ $directive =~ include[[:space:]]*([<\"])([^>\"]*) ]] || continue
    target=${BASH_REMATCH[2]}
    if [ "${target##*/}" = Python.h ]; then
      report "$file" "$line" "includes Python.h; only src/py may"
      continue
    fi
    if [ "${BASH_REMATCH[1]}" = '<' ]; then
      continue
    fi
    # Quoted includes name a path under src/, or one beside the file.
    path=$target
    if [ ! -e "src/$path" ] && [ -e "$(dirname "$file")/$target" ]; then
      path=$(realpath -m --relative-to=src "$(dirname "$file")/$target")
    fi
    if [[ $path != core/* ]]; then
      report "$file" "$line" "includes \"$target\", which is outside src/core"
      continue
    fi
    to=${path#core/}
    to=${to%%/*}
    if [[ " ${below[$room]} " != *" $to "* ]]; then
      report "$file" "$line" "includes \"$target\": $room may include only ${below[$room]// /, }"
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" || true)
done < <(find src/core -type f \( -name '*.hpp' -o -name '*.cpp' -o -name '*.inc' -o -name '*.h' \) -print0)

exit "$status"
