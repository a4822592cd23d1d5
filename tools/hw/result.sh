#!/bin/sh
# Stands in for running one test of test_hw on this machine: prints what the
# guest's run (RUN/tests.log, written by run.sh) said about it and ends as it
# ended there. Lists of the tests come from the program itself.
# usage: result.sh RUN PROGRAM --gtest_filter=NAME ...
run=$1
shift
case " $* " in *" --gtest_list_tests "*) exec "$@" ;; esac
name=$(printf '%s\n' "$@" | sed -n 's/^--gtest_filter=//p')
[ -f "$run/tests.log" ] || { echo "The guest's run left no results ($run/tests.log)." >&2; exit 1; }
awk -v name="$name" '
  $0 == "[ RUN      ] " name { inside = 1 }
  inside { print }
  # The line that ends a test: its name, then its time or its parameter.
  function ends(mark) { return index($0, mark name " (") == 1 || index($0, mark name ", where ") == 1 }
  inside && (ends("[       OK ] ") || ends("[  SKIPPED ] ")) { ended = "ok"; exit }
  inside && ends("[  FAILED  ] ") { ended = "failed"; exit }
  END {
    if (ended == "ok") exit 0
    if (!inside) print "The guest did not run " name "."
    else if (ended == "") print "The guest stopped inside " name "."
    exit 1
  }' "$run/tests.log"
