#!/usr/bin/env bash
# Builds the benchmark suite (Release) and runs it: the library's overhead
# against the floor of the system calls it has to make, closing with a
# summary of medians, ratios and targets (see docs/benchmarks.md).
#
# Needs root: the run happens in a private mount namespace with a fresh
# tmpfs on /tmp, so the trace file and debug markers the benchmarks touch
# are never the host's (the benchmark binary isolates itself as well).
#   scripts/bench.sh                  full run, about a minute after the build
#   scripts/bench.sh --smoke          every benchmark once, briefly (CI)
#   scripts/bench.sh [--smoke] [Google Benchmark flags...]
#   BENCH_BUILD_DIR=<dir>             build directory (default ./build-bench;
#                                     see scripts/build-dir.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
. "$root/scripts/private-tmp.sh"
build=${BENCH_BUILD_DIR:-$(zorvan_build_dir "$root" -bench)}

smoke=0
extra=()
for arg in "$@"; do
  case "$arg" in
    --smoke) smoke=1 ;;
    *) extra+=("$arg") ;;
  esac
done

if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/bench.sh needs root (a private mount namespace for /tmp)" >&2
  exit 1
fi

"$root/scripts/deps.sh" cmake make g++ libc6-dev libbenchmark-dev
cmake -S "$root" -B "$build" -DZORVAN_WERROR=ON -DCMAKE_BUILD_TYPE=Release -DZORVAN_BUILD_BENCHMARKS=ON \
  -DZORVAN_BUILD_TESTS=OFF -DZORVAN_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target zorvan_bench

if [ "$smoke" -eq 1 ]; then
  flags=(--benchmark_min_time=0.01 --benchmark_repetitions=1)
else
  # Repetitions in random order, so that a change of load on the machine
  # falls on floors and subjects alike; the summary uses the medians.
  flags=(--benchmark_min_time=0.1 --benchmark_repetitions=20
         --benchmark_enable_random_interleaving=true
         --benchmark_display_aggregates_only=true)
fi

zorvan_private_tmp_run "$build/bench/zorvan_bench" "${flags[@]}" ${extra[@]+"${extra[@]}"}
