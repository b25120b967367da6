#!/usr/bin/env bash
# Builds the library and the tests in which threads share it with clang
# under ThreadSanitizer, and runs them. Any report fails: the process that
# makes it aborts, so its test fails, and the script also looks for report
# headers in the whole output.
#   scripts/tsan-test.sh              build into ./build-tsan
#   BUILD_DIR=/path scripts/tsan-test.sh
# Each test binary gets a private /tmp, as in scripts/test.sh; run it as
# root for every case to run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
build=${BUILD_DIR:-$(zorvan_build_dir "$root" -tsan)}

"$root/scripts/deps.sh" cmake make clang libclang-rt-14-dev llvm-14 libc6-dev \
  libgtest-dev libgmock-dev

# Only the threaded tests: the rest of the suite drives one thread at a
# time, where ThreadSanitizer has nothing to find.
targets=(test_concurrent_initialize)
tests='^Threads/ConcurrentInitialize\.'

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DZORVAN_WERROR=ON -DSANITIZE=thread \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

export TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:second_deadlock_stack=1:history_size=4
export TSAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)

# ThreadSanitizer of clang 14 expects the address-space layout of kernels
# with fewer bits of mmap randomisation than current ones may use, and
# stops with "unexpected memory mapping" there; without randomisation
# (inherited by every process ctest starts) its layout always fits. Where
# the personality cannot be changed, the tests run as they are.
fixed_layout=()
if setarch "$(uname -m)" -R true 2>/dev/null; then fixed_layout=(setarch "$(uname -m)" -R); fi
status=0
${fixed_layout[@]+"${fixed_layout[@]}"} "$root/scripts/ctest-brief.sh" "$build" -R "$tests" || status=$?
if grep -q 'ThreadSanitizer' "$build/ctest.log" "$build/Testing/Temporary/LastTest.log" 2>/dev/null; then
  echo "ThreadSanitizer reported (see $build/Testing/Temporary/LastTest.log):"
  grep -h -A30 'WARNING: ThreadSanitizer\|ERROR: ThreadSanitizer\|FATAL: ThreadSanitizer' \
    "$build/Testing/Temporary/LastTest.log" | head -80
  status=1
fi
exit "$status"
