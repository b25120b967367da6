#!/usr/bin/env bash
# Configure on a machine without nlohmann-json and GoogleTest, as CMake
# simulates one: the library, acs-host and the reference back end are
# still there to build, each part left out has its one line naming the
# package, and ZORVAN_REQUIRE_ALL (the scripts' setting) makes that an
# error. Configures, and builds one test that must not need nlohmann-json,
# below the build tree, never in /tmp.
#   configure_parts_test.sh <source dir> <work directory>
set -euo pipefail
source=$1 work=$2
rm -rf "$work"
without=(-DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)
failures=0
fail() { printf 'FAIL: %s\n' "$1"; failures=$((failures + 1)); }

if ! out=$(cmake -S "$source" -B "$work/plain" "${without[@]}" 2>&1); then
  printf '%s\n' "$out"
  fail "configure without the packages failed"
else
  left=$(grep -E '^-- left out: ' <<<"$out" || true)
  [ "$(grep -c . <<<"$left")" -eq 2 ] || fail "expected two left-out lines, got: ${left:-none}"
  grep -q 'acs-doctor.*nlohmann-json3-dev' <<<"$left" || fail "no line for acs-doctor naming nlohmann-json3-dev"
  grep -q 'test suite.*libgtest-dev' <<<"$left" || fail "no line for the test suite naming libgtest-dev"
  targets=$(cmake --build "$work/plain" --target help 2>&1)
  for t in zorvan_db2acs acs-host qxacsint_example; do
    grep -qE "^\.\.\. $t( |$)" <<<"$targets" || fail "no target $t"
  done
  ! grep -qE '^\.\.\. (acs-doctor|test_abi)( |$)' <<<"$targets" || fail "a left-out part still has its target"
fi

# With GoogleTest but without nlohmann-json the suite stays, less
# acs-doctor's tests, and builds: the set-user-ID host's cases run, their
# doctor half left out.
if out=$(cmake -S "$source" -B "$work/nojson" -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON 2>&1) &&
  grep -q 'left out: acs-doctor' <<<"$out" && ! grep -q 'left out: the test suite' <<<"$out"; then
  cmake --build "$work/nojson" --target test_setuid_host >"$work/nojson.log" 2>&1 ||
    { tail -20 "$work/nojson.log"; fail "a test without acs-doctor does not build without nlohmann-json"; }
fi

if out=$(cmake -S "$source" -B "$work/strict" "${without[@]}" -DZORVAN_REQUIRE_ALL=ON 2>&1); then
  fail "ZORVAN_REQUIRE_ALL let configure pass without the packages"
elif ! grep -q 'cannot be built: install' <<<"$out"; then
  printf '%s\n' "$out"
  fail "ZORVAN_REQUIRE_ALL failed without naming the missing package"
fi
rm -rf "$work"
[ "$failures" -eq 0 ] && echo "configure: the three parts without the packages, a line per part left out; the suite without nlohmann-json builds"
exit $((failures > 0))
