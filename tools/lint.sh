#!/bin/sh
# clang-tidy over the logic libraries (the code without Qt), with the checks
# of .clang-tidy; any finding fails. Usage: tools/lint.sh <build dir> [jobs]
set -e
build="$1"
jobs="${2:-2}"
libs='tv_(platform|platform_devices|comm|controls|catalogue|ports|launch|transfer)'
# compile_commands.json lists each command before its file.
files=$(awk -v libs="CMakeFiles/$libs\\.dir/" '
  /"command":/ { logic = ($0 ~ libs) }
  /"file":/ { if (logic && $0 !~ /_autogen\//) { sub(/.*"file": "/, ""); sub(/".*/, ""); print } }
' "$build/compile_commands.json")
[ -n "$files" ] || { echo "no logic sources found in $build/compile_commands.json" >&2; exit 1; }
echo "clang-tidy on $(echo "$files" | wc -l) files"
run-clang-tidy -quiet -j "$jobs" -p "$build" $files >"$build/clang-tidy.log" 2>&1 || {
  grep -E "(warning|error):" "$build/clang-tidy.log" | sort -u >&2
  exit 1
}
echo "clang-tidy: no findings"
