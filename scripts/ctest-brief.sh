#!/usr/bin/env bash
# Runs ctest in a build directory with one short line per test (ctest's
# own two lines, padded with dots to the longest name, are cut down to the
# result line, and a parameterised case's "# GetParam() = <name>" that
# repeats the end of its name is left out) and a failing test's output in
# full. Then one line per skipped case with its reason, the reasons
# grouped and counted, and last, on a line of its own,
# "N passed, N failed, N skipped". ctest's own "100% tests passed" and its
# list of tests that did not run are left out: they stand above skips as
# if there were none. The whole ctest output is kept in <build>/ctest.log.
#   scripts/ctest-brief.sh <build-dir> [--max-skips N] [ctest arguments...]
#     --max-skips N   fail when more than N cases skipped
# Exit status: ctest's, or 1 when too many cases skipped.
set -euo pipefail
build=$1
shift
max_skips=
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --max-skips) max_skips=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done

cd "$build"
log=$build/ctest.log
status=0
ctest --output-on-failure -j"$(nproc)" ${args[@]+"${args[@]}"} 2>&1 | tee "$log" |
  sed -u -E '/^ +Start +[0-9]+: /d
             /^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+$/d
             /^The following tests did not run:$/,/^$/d
             /^ *[0-9]+\/[0-9]+ Test +#/{s/  # GetParam\(\) = [^ ]*//; s/ \.+(\*\*\*)? */ \1/; s/  +/ /g}' |
  cat -s || status=$?

# The result column: "Passed", "***Skipped" (or "Skipped" after the
# padding), anything else a failure (Failed, Timeout, Exception, Not Run).
results=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$log" || true)
count() { if [ -z "$results" ]; then echo 0; else grep -cE "$1" <<<"$results" || true; fi; }
passed=$(count ' Passed +[0-9.]+ sec$')
skipped=$(count '[ *]Skipped +[0-9.]+ sec$')
total=$(count .)
failed=$((total - passed - skipped))

# Each skipped case's reason, from ctest's record of every test's output:
# the lines after GoogleTest's "<file>:<line>: Skipped" up to the case's
# "[  SKIPPED ]" line.
reasons=$build/ctest-skips.txt
awk '
  /^[0-9]+\/[0-9]+ Test: / { name = $3; reading = 0; why = "" }
  reading && /^\[  SKIPPED \]/ { reading = 0; done[name] = 1
                                 print name "\t" (why == "" ? "(no reason given)" : why); next }
  reading && NF { why = why (why == "" ? "" : " ") $0 }
  /: Skipped$/ && !(name in done) { reading = 1 }
' Testing/Temporary/LastTest.log 2>/dev/null | sort >"$reasons" || : >"$reasons"
if [ "$skipped" -gt 0 ]; then
  awk -F '\t' '{ print "skipped: " $1 ": " $2 }' "$reasons"
  echo "skip reasons:"
  cut -f2 "$reasons" | sort | uniq -c | sort -rn | sed -E 's/^ *([0-9]+) /  \1 x /'
fi
echo "(whole output: $log)"
if [ "$status" -eq 0 ] && [ -n "$max_skips" ] && [ "$skipped" -gt "$max_skips" ]; then
  echo "$skipped cases skipped where at most $max_skips may"
  status=1
fi
echo "$passed passed, $failed failed, $skipped skipped"
exit "$status"
