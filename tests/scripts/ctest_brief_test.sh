#!/usr/bin/env bash
# scripts/ctest-brief.sh over a small suite of its own: one case passes,
# one fails, three skip the way GoogleTest reports a GTEST_SKIP (two of
# them for the same reason). CI reads the closing count line; people read
# the skip lines. Works in a directory below the build tree, never in /tmp.
#   ctest_brief_test.sh <ctest-brief.sh> <work directory>
set -euo pipefail
brief=$1 work=$2
rm -rf "$work"
mkdir -p "$work/suite"
failures=0
# expect <what> <pattern a whole line must match> <text>
expect() {
  if ! grep -qxE -- "$2" <<<"$3"; then
    printf 'FAIL: %s: no line matching "%s" in:\n%s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

cat >"$work/skip.sh" <<'SKIP'
printf '[ RUN      ] %s\n%s:9: Skipped\n%s\n\n[  SKIPPED ] %s (0 ms)\n' "$2" "$2.cpp" "$1" "$2"
SKIP
skip() {
  printf 'add_test(%s /bin/sh "%s" "%s" %s)\n' "$1" "$work/skip.sh" "$2" "$1"
  printf 'set_tests_properties(%s PROPERTIES SKIP_REGULAR_EXPRESSION "[[]  SKIPPED []]")\n' "$1"
}
write_suite() {
  {
    echo 'add_test(Suite.Passes /bin/true)'
    [ "${1:-}" = with-failure ] && echo 'add_test(Suite.Fails /bin/false)'
    skip Suite.SkipsA "needs root: the file is given away"
    skip Suite.SkipsB "needs root: the file is given away"
    skip Suite.SkipsC "needs root: starts a process as nobody"
  } >"$work/suite/CTestTestfile.cmake"
}

write_suite with-failure
status=0
out=$("$brief" "$work/suite" 2>&1) || status=$?
[ "$status" -ne 0 ] || { echo "FAIL: a failing case left the exit status 0"; failures=$((failures + 1)); }
expect "closing count, last" "1 passed, 1 failed, 3 skipped" "$(tail -n 1 <<<"$out")"
expect "skip line" "skipped: Suite.SkipsA: needs root: the file is given away" "$out"
expect "skip line" "skipped: Suite.SkipsC: needs root: starts a process as nobody" "$out"
expect "grouped reason" " *2 x needs root: the file is given away" "$out"
expect "grouped reason" " *1 x needs root: starts a process as nobody" "$out"
if grep -qE 'tests passed|did not run' <<<"$out"; then
  printf 'FAIL: ctest'"'"'s own summary stands above the skips:\n%s\n' "$out"
  failures=$((failures + 1))
fi

write_suite
status=0
out=$("$brief" "$work/suite" --max-skips 0 2>&1) || status=$?
[ "$status" -eq 1 ] || { echo "FAIL: --max-skips 0 with three skips gave status $status"; failures=$((failures + 1)); }
expect "closing count, last" "1 passed, 0 failed, 3 skipped" "$(tail -n 1 <<<"$out")"
status=0
"$brief" "$work/suite" --max-skips 3 >/dev/null 2>&1 || status=$?
[ "$status" -eq 0 ] || { echo "FAIL: --max-skips 3 with three skips gave status $status"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "ctest-brief: counts, skip lines and limits as expected"
exit $((failures > 0))
