#!/usr/bin/env bash
# Builds everything with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the whole test suite. Any sanitizer
# report (invalid access, leak, undefined behaviour) aborts the process
# that made it, so the test fails and so does this script.
#   scripts/sanitize-test.sh              build into ./build-sanitize
#   BUILD_DIR=/path scripts/sanitize-test.sh
# Each test binary gets a private /tmp, as in scripts/test.sh; run it as
# root for every case to run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
build=${BUILD_DIR:-$(zorvan_build_dir "$root" -sanitize)}

"$root/scripts/deps.sh" cmake make clang libclang-rt-14-dev llvm-14 libc6-dev \
  libgtest-dev libgmock-dev nlohmann-json3-dev

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DZORVAN_WERROR=ON -DZORVAN_REQUIRE_ALL=ON -DSANITIZE=address,undefined \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:print_stacktrace=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=print_suppressions=0
export ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)

"$root/scripts/ctest-brief.sh" "$build"
