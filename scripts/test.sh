#!/usr/bin/env bash
# Builds the project and runs the whole test suite. Needs root: every test
# binary runs in a private mount namespace with its own /tmp.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh" "$build"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
