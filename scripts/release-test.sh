#!/usr/bin/env bash
# Proves the release files by running them, where they will run. Run
# scripts/release.sh first: it makes dist/, unpacks every architecture's
# tree into build-release/trees/ and builds the x86_64 test suite in the
# Debian 11 build root.
#   - The whole test suite runs inside the build root (g++ 10, glibc 2.31,
#     CMake 3.18).
#   - The main job (backup, query, restore, delete, query through acs-host
#     with the reference back end) runs with the x86_64 release files
#     inside the build root, a glibc 2.31 system, and on this host.
#   - The main job runs with the ppc64le and s390x release files under
#     qemu-user, on the build root's libraries for those architectures.
#   - The x86_64 release, built again from a second clone in another
#     directory, gives the same bytes (scripts/release-rebuild-check.sh).
# Needs root, like release.sh.
set -euo pipefail
ZORVAN_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$ZORVAN_SOURCE"
. scripts/buildroot.sh
version=$(sed -n 's/^project(zorvan_db2acs VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
trees=build-release/trees
phase() { printf '\n== %s (%ds)\n' "$1" "$SECONDS"; }

for arch in x86_64 ppc64le s390x; do
  if [ ! -d "$trees/zorvan-db2acs-$version-$arch" ]; then
    echo "no $arch release tree in $trees: run scripts/release.sh first" >&2
    exit 2
  fi
done
"$ZORVAN_SOURCE/scripts/deps.sh" qemu-user
ZORVAN_BUILD_ROOT_NO_UPDATE=1 zorvan_buildroot_prepare

phase "test suite inside the build root (x86_64, glibc 2.31, g++ 10, CMake 3.18)"
zorvan_buildroot_run scripts/ctest-brief.sh /src/build-release/x86_64 --max-skips 0

phase "main job, x86_64 release files, inside the build root (glibc 2.31)"
zorvan_buildroot_run scripts/demo.sh --tree "/src/$trees/zorvan-db2acs-$version-x86_64"

phase "main job, x86_64 release files, on this host ($(ldd --version | head -1 | grep -o '[0-9.]*$'))"
scripts/demo.sh --tree "$trees/zorvan-db2acs-$version-x86_64"

for arch in ppc64le s390x; do
  phase "main job, $arch release files, under qemu-user"
  ACS_HOST_WRAPPER="qemu-$arch -L $ZORVAN_BUILD_ROOT/usr/$(zorvan_arch_triplet "$arch")" \
    scripts/demo.sh --tree "$trees/zorvan-db2acs-$version-$arch"
done
phase "reproducible: the x86_64 release rebuilt from another clone, compared byte for byte"
scripts/release-rebuild-check.sh

phase "done"
