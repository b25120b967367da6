#!/usr/bin/env bash
# Cross-builds the library, the reference back end, the tools and the
# tests for another architecture and runs the whole test suite under
# qemu-user. Run it as root, like CI's scripts/test.sh, for every case to
# run (each test binary gets a private /tmp).
#   scripts/cross-test.sh ppc64|ppc64el|s390x|aarch64 [extra cmake arguments...]
# The build directory is $BUILD_DIR, by default build-cross-<arch> in the
# source tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  echo "usage: $0 ppc64|ppc64el|s390x|aarch64 [cmake arguments...]" >&2
  exit 2
}
[ $# -ge 1 ] || usage
arch=$1
shift

# arch -> Debian triplet, qemu-user binary, readelf's Data, Machine and
# (POWER only) ABI-level lines for the library; and the ELF header's byte
# order, e_type (executable or shared object) and e_machine as the kernel's
# binfmt_misc matches them.
be='\x02' le='\x01'
case "$arch" in
  ppc64)
    triplet=powerpc64-linux-gnu qemu=qemu-ppc64
    data="big endian" machine="PowerPC64" abi="abiv1"
    order=$be elf_type='\x00\x02' type_mask='\xff\xfe' elf_machine='\x00\x15' ;;
  ppc64el)
    triplet=powerpc64le-linux-gnu qemu=qemu-ppc64le
    data="little endian" machine="PowerPC64" abi="abiv2"
    order=$le elf_type='\x02\x00' type_mask='\xfe\xff' elf_machine='\x15\x00' ;;
  s390x)
    triplet=s390x-linux-gnu qemu=qemu-s390x
    data="big endian" machine="IBM S/390" abi=""
    order=$be elf_type='\x00\x02' type_mask='\xff\xfe' elf_machine='\x00\x16' ;;
  aarch64)
    triplet=aarch64-linux-gnu qemu=qemu-aarch64
    data="little endian" machine="AArch64" abi=""
    order=$le elf_type='\x02\x00' type_mask='\xfe\xff' elf_machine='\xb7\x00' ;;
  *) usage ;;
esac
. "$root/scripts/build-dir.sh"
build=${BUILD_DIR:-$(zorvan_build_dir "$root" "-cross-$arch")}

phase() { printf '== %s (%ds)\n' "$1" "$SECONDS"; }

phase "packages"
# googletest: the sources, built for the target along with the tests.
"$root/scripts/deps.sh" cmake make googletest qemu-user nlohmann-json3-dev \
  "gcc-$triplet" "g++-$triplet" "binutils-$triplet"

phase "configure"
cmake -S "$root" -B "$build" -DZORVAN_WERROR=ON -DZORVAN_REQUIRE_ALL=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$arch.cmake" \
  -DZORVAN_GTEST_FROM_SOURCE=ON -DZORVAN_BUILD_TOOLS=ON -DZORVAN_BUILD_TESTS=ON \
  "$@" >/dev/null

phase "build"
cmake --build "$build" -j"$(nproc)"

# The ABI tests check the same from inside; this names a wrong toolchain
# before anything runs under the emulator.
phase "check the library's ELF header"
library="$build/lib/libzorvan_db2acs.so"
header=$("$triplet-readelf" -h "$library")
grep -E '^ *(Class|Data|Machine|Flags):' <<<"$header"
expect() {
  if ! grep -qE "$1" <<<"$header"; then
    echo "$library: expected $2" >&2
    exit 1
  fi
}
expect '^ *Class: +ELF64$' "a 64-bit ELF file"
expect "^ *Data: .*$data" "$data"
expect "^ *Machine: +$machine\$" "machine $machine"
if [ -n "$abi" ]; then
  expect "^ *Flags: .*$abi" "the $abi calling convention"
fi

# acs-doctor re-executes itself as the identity it checks. Under qemu-user
# that exec goes to the kernel, which runs a target binary only when
# binfmt_misc names an interpreter for it. When nothing does yet, register
# qemu for this run ("O": the kernel hands it the opened binary, which the
# doctor executes by descriptor), with the target's libraries where qemu
# looks when no -L is given, /etc/qemu-binfmt/<machine>; both are removed
# again at the end.
binfmt=/proc/sys/fs/binfmt_misc
undo=()
cleanup() { local step; for step in ${undo[@]+"${undo[@]}"}; do eval "$step"; done; }
trap cleanup EXIT
register_emulator() {
  [ "$(id -u)" -eq 0 ] || return 0
  local prefix="/etc/qemu-binfmt/${qemu#qemu-}"
  if [ ! -e "$prefix" ]; then
    [ -d /etc/qemu-binfmt ] || { mkdir /etc/qemu-binfmt && undo+=("rmdir /etc/qemu-binfmt"); }
    ln -s "/usr/$triplet" "$prefix"
    undo=("rm -f '$prefix'" ${undo[@]+"${undo[@]}"})
  fi
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || return 0
  if grep -qs "interpreter .*/$qemu\$" "$binfmt"/*; then return 0; fi
  local name="zorvan-$qemu" zeros='\x00\x00\x00\x00\x00\x00\x00\x00'
  local ones='\xff\xff\xff\xff\xff\xff\xff\xff'
  local magic="\\x7fELF\\x02$order\\x01\\x00$zeros$elf_type$elf_machine"
  local mask="\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\x00$ones$type_mask\\xff\\xff"
  printf ':%s:M::%s:%s:%s:OF' "$name" "$magic" "$mask" "$(command -v "$qemu")" >"$binfmt/register"
  undo+=("echo -1 >'$binfmt/$name'")
}
register_emulator

phase "tests under $qemu"
"$root/scripts/ctest-brief.sh" "$build"
phase "done: $arch"
