#!/usr/bin/env bash
# Builds what we ship -- the library, the reference back end, acs-doctor
# and acs-host -- for each architecture inside the Debian 11 build root
# (scripts/buildroot.sh), packages each as .tar.gz, .deb and .rpm into
# dist/, and checks them:
#   - every ELF file needs no glibc symbol version above 2.17 and no C++
#     runtime (test_baseline, over every architecture's tree);
#   - lintian and rpmlint find nothing but the overrides the packages
#     carry (packaging/lintian-overrides, packaging/rpmlintrc).
# The files are reproducible: the same commit gives the same bytes in any
# clone, on any day (SOURCE_DATE_EPOCH is the last commit's time; see
# scripts/repack-reproducibly.sh), and dist/SHA256SUMS lists every file in
# dist/ with its checksum.
#   scripts/release.sh [ARCH...]   default: x86_64 ppc64le s390x ppc64 aarch64
# Needs root. Build directories: build-release/<arch> in the checkout.
set -euo pipefail
ZORVAN_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$ZORVAN_SOURCE"
. scripts/buildroot.sh

arches=${*:-$zorvan_release_arches}
for arch in $arches; do
  zorvan_arch_toolchain "$arch" >/dev/null || {
    echo "unknown architecture $arch (known: $zorvan_release_arches)" >&2
    exit 2
  }
done
phase() { printf '== %s (%ds)\n' "$1" "$SECONDS"; }

# Every time in the packages: the last commit's.
if commit_time=$(git -C "$ZORVAN_SOURCE" log -1 --format=%ct 2>/dev/null) && [ -n "$commit_time" ]; then
  export SOURCE_DATE_EPOCH=$commit_time
elif [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  echo "not a git checkout: set SOURCE_DATE_EPOCH to the time the packages should carry" >&2
  exit 2
fi

phase "build root $ZORVAN_BUILD_ROOT"
zorvan_buildroot_prepare
"$ZORVAN_SOURCE/scripts/deps.sh" lintian rpmlint rpm

# configure <arch> <tests ON|OFF>: the release build directory of one
# architecture, configured inside the build root.
configure() {
  local toolchain
  toolchain=$(zorvan_arch_toolchain "$1")
  zorvan_buildroot_run cmake -S . -B "build-release/$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZORVAN_WERROR=ON -DZORVAN_REQUIRE_ALL=ON -DZORVAN_BUILD_TESTS="$2" -DZORVAN_RELEASE_BUILD=ON \
    ${toolchain:+-DCMAKE_TOOLCHAIN_FILE=$toolchain} >/dev/null
}

version=$(sed -n 's/^project(zorvan_db2acs VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mkdir -p dist
for arch in $arches; do
  phase "$arch: build and package"
  build=build-release/$arch
  tgz=zorvan-db2acs-$version-$arch.tar.gz
  deb=zorvan-db2acs_${version}_$(zorvan_arch_deb "$arch").deb
  packages="$tgz $deb zorvan-db2acs-$version-1.$arch.rpm"
  for p in $packages; do rm -f "dist/$p" "$build/$p"; done
  # x86_64 also builds the test suite: release-test.sh runs it in the
  # build root, and its baseline check reads every architecture's tree.
  tests=OFF
  [ "$arch" = x86_64 ] && tests=ON
  configure "$arch" "$tests"
  zorvan_buildroot_run bash -c "
    cmake --build '$build' -j$(nproc) >'$build/build.log' 2>&1 || { tail -40 '$build/build.log'; exit 1; }
    cd '$build' && cpack -G 'TGZ;DEB;RPM' >/dev/null &&
    /src/scripts/repack-reproducibly.sh '$tgz' '$deb'"
  for p in $packages; do cp "$build/$p" dist/; done
done
(cd dist && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort |
   xargs sha256sum >SHA256SUMS)
ls -l dist/

phase "baseline: glibc 2.17, no C++ runtime, for every architecture"
# The trees unpacked in the checkout, where the build root sees them too:
# the check runs there, so the host's tools play no part.
trees=build-release/trees
rm -rf "$trees"
mkdir -p "$trees"
list=""
for arch in $arches; do
  tar xzf "dist/zorvan-db2acs-$version-$arch.tar.gz" -C "$trees"
  list+="${list:+:}/src/$trees/zorvan-db2acs-$version-$arch"
done
# The check is a native program: built with the x86_64 release even when
# that architecture is not among those asked for.
case " $arches " in *" x86_64 "*) ;; *) configure x86_64 ON ;; esac
zorvan_buildroot_run bash -c "cmake --build build-release/x86_64 -j$(nproc) --target test_baseline >/dev/null &&
  ZORVAN_SHIPPED_TREES='$list' build-release/x86_64/tests/test_baseline"

phase "lintian and rpmlint"
status=0
# lintian leaves its databases behind in TMPDIR: it gets a folder of ours.
lint_tmp=$(mktemp -d "$PWD/build-release/lint.XXXXXX")
export TMPDIR=$lint_tmp
for deb in dist/*.deb; do
  if ! out=$(lintian --fail-on error,warning "$deb" 2>&1); then
    echo "lintian: $deb"; echo "$out"; status=1
  fi
done
for rpm in dist/*.rpm; do
  if ! out=$(rpmlint -r packaging/rpmlintrc "$rpm" 2>&1); then
    echo "rpmlint: $rpm"; echo "$out"; status=1
  fi
done
unset TMPDIR
rm -rf "$lint_tmp"
[ "$status" -eq 0 ] || exit 1
phase "done: $(ls dist | wc -l) files in dist/"
