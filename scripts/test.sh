#!/usr/bin/env bash
# Builds the project and runs the whole test suite. Needs root: every test
# binary runs in a private mount namespace with its own /tmp.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
build=${BUILD_DIR:-$(zorvan_build_dir "$root")}
"$root/scripts/build.sh" "$build"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
