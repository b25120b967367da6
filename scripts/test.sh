#!/usr/bin/env bash
# Builds the project and runs the whole test suite. Every test binary gives
# itself a private /tmp (tests/support/private_tmp.cpp): as root in a mount
# namespace, as an ordinary user in a user namespace of its own. Run as an
# ordinary user, the cases that need another real user (switching to
# nobody, giving files away) skip and say why; as root every case runs.
#   scripts/test.sh [--no-skips] [ctest arguments...]
#     --no-skips   fail when any case skipped (CI's root run)
#   BUILD_DIR=<dir>  build directory (default ./build)
# The build as one line, then one line per test, a failing test's output in
# full (scripts/ctest-brief.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
build=${BUILD_DIR:-$(zorvan_build_dir "$root")}

no_skips=0
ctest_args=()
for arg in "$@"; do
  case "$arg" in
    --no-skips) no_skips=1 ;;
    *) ctest_args+=("$arg") ;;
  esac
done

# Can a test get a private /tmp here? Made as the tests make it, asked
# before anything is built.
. "$root/scripts/private-tmp.sh"
if ! why=$(zorvan_private_tmp_check); then
  echo "scripts/test.sh: no private /tmp for the tests: $why" >&2
  exit 2
fi
if [ "$(id -u)" -eq 0 ]; then
  echo "tests run as root, each case in a process and mount namespace of its own"
else
  echo "tests run as $(id -un), each case in a process and user namespace of its own; cases that need another real user skip"
fi

# The packages and the build, in one line; their output in a log, whose
# tail is shown when they fail.
mkdir -p "$build"
log=$build/test-build.log start=$SECONDS
if ! "$root/scripts/build.sh" "$build" >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "scripts/test.sh: the build failed (whole log: $log)"
  exit 1
fi
packages=$(sed -n 's/^installed \([0-9]*\) packages.*/\1 packages installed, /p' "$log")
echo "${packages}built in $((SECONDS - start))s (log: $log)"
limit=()
[ "$no_skips" -eq 0 ] || limit=(--max-skips 0)
exec "$root/scripts/ctest-brief.sh" "$build" ${limit[@]+"${limit[@]}"} ${ctest_args[@]+"${ctest_args[@]}"}
