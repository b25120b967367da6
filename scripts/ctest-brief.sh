#!/usr/bin/env bash
# Runs ctest in a build directory with one short line per test (ctest's
# own two lines, padded with dots to the longest name, are cut down to the
# result line, and a parameterised case's "# GetParam() = <name>" that
# repeats the end of its name is left out) and a failing test's output in
# full, then the number of cases that skipped. The whole ctest output is kept in <build>/ctest.log.
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
             /^ *[0-9]+\/[0-9]+ Test +#/{s/  # GetParam\(\) = [^ ]*//; s/ \.+(\*\*\*)? */ \1/; s/  +/ /g}' ||
  status=$?

# The status column: "***Skipped", or "Skipped" after the padding.
skipped=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*[ *]Skipped +[0-9.]+ sec$' "$log" || true)
echo "skipped: $skipped (whole output: $log)"
if [ "$status" -eq 0 ] && [ -n "$max_skips" ] && [ "$skipped" -gt "$max_skips" ]; then
  echo "$skipped cases skipped where at most $max_skips may" >&2
  status=1
fi
exit "$status"
