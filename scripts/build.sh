#!/usr/bin/env bash
# Configures and builds the project into a build directory.
#   scripts/build.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
build=${1:-$(zorvan_build_dir "$root")}
shift || true
"$root/scripts/deps.sh" cmake make g++ libc6-dev libgtest-dev libgmock-dev nlohmann-json3-dev rpm cpio acl
cmake -S "$root" -B "$build" -DZORVAN_WERROR=ON -DZORVAN_REQUIRE_ALL=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
