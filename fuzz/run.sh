#!/bin/sh
# Runs every libFuzzer target of a build for the given seconds each, from its
# seeds in fuzz/seeds/<target> and the corpus that earlier runs grew in
# BUILD/corpus/<target>. Prints the executions of each target and of all of
# them, this run and over every run of this build (BUILD/fuzz-history);
# fails when a target found a crash or a broken property (the input is kept
# in BUILD/crashes/, the output in BUILD/fuzz-logs/).
#   fuzz/run.sh BUILD SECONDS
set -e
build=$1
seconds=${2:-180}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$build/corpus" "$build/crashes" "$build/fuzz-logs"
history="$build/fuzz-history"
total=0
failed=""
for bin in "$build"/bin/*_fuzz; do
  name=$(basename "$bin")
  mkdir -p "$build/corpus/$name"
  log="$build/fuzz-logs/$name.log"
  status=0
  "$bin" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$name-" "$build/corpus/$name" "$here/seeds/$name" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs=${runs:-0}
  echo "$name $runs" >>"$history"
  ever=$(awk -v n="$name" '$1 == n { s += $2 } END { print s + 0 }' "$history")
  total=$((total + runs))
  if [ "$status" -ne 0 ]; then
    failed="$failed $name"
    printf '%-20s %12s executions  FAILED (see %s)\n' "$name" "$runs" "$log"
  else
    printf '%-20s %12s executions  (%s over all runs)\n' "$name" "$runs" "$ever"
  fi
done
printf "%-20s %12s executions  (%s over all runs)\n" total "$total" \
  "$(awk '{ s += $2 } END { print s + 0 }' "$history")"
if [ -n "$failed" ]; then
  echo "fuzzing found faults in:$failed" >&2
  exit 1
fi
