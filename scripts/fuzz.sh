#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with the library's code instrumented
# under ASan and UBSan) and runs each for a time budget, starting from the
# seed corpora in fuzz/corpus/<target>/. Any crash, sanitizer report, leak
# or failed check stops that target with a reproducer under
# <build>/fuzz-artifacts/ and fails the script.
#   scripts/fuzz.sh                 60 seconds per target
#   scripts/fuzz.sh 3600            an hour per target
#   FUZZ_TARGETS="fuzz_trace" scripts/fuzz.sh 600
#   BUILD_DIR=/path scripts/fuzz.sh
# Inputs found along the way are kept in <build>/fuzz-corpus/<target>/, so
# a later run with the same build directory resumes from them. Needs root:
# each fuzzer moves itself into a private /tmp before touching any path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
build=${BUILD_DIR:-$(zorvan_build_dir "$root" -fuzz)}
seconds=${1:-60}
targets=${FUZZ_TARGETS:-"fuzz_properties fuzz_instance_name fuzz_trace fuzz_base_dir fuzz_trace_reader"}

"$root/scripts/deps.sh" cmake make clang libclang-rt-14-dev llvm-14 libc6-dev nlohmann-json3-dev

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DZORVAN_WERROR=ON -DZORVAN_BUILD_FUZZERS=ON \
  -DZORVAN_BUILD_TESTS=OFF -DZORVAN_BUILD_TOOLS=ON -DZORVAN_BUILD_BENCHMARKS=OFF \
  -DSANITIZE=fuzzer-no-link,address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target zorvan_fuzzers

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:print_stacktrace=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
export ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)

mkdir -p "$build/fuzz-artifacts"
failed=()
for target in $targets; do
  corpus=$build/fuzz-corpus/$target
  mkdir -p "$corpus"
  # The fuzzers hide /tmp behind a private one before reading any input,
  # so the seeds join the working corpus in the build directory (which
  # build-dir.sh keeps out of /tmp); the committed seeds stay as they are.
  cp "$root/fuzz/corpus/$target"/* "$corpus"/
  echo "=== $target: $seconds s ==="
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=8192 -print_final_stats=1 \
      -artifact_prefix="$build/fuzz-artifacts/$target-" "$corpus"; then
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (reproducers in $build/fuzz-artifacts/)" >&2
  exit 1
fi
echo "fuzzing: no findings in $targets"
