# Sourced by the release scripts: the Debian 11 build root in which what
# we ship is built. Its C library (glibc 2.31, whose headers still bind
# stat to the old __xstat family and dlopen to libdl) and its g++ 10 give
# files that load on glibc 2.17 and later; its cross compilers cover every
# architecture DB2 runs on.
#
# The root is a cache, not a source: it is made with debootstrap from
# Debian's default mirror when missing and brought up to date otherwise,
# in a folder outside /tmp and outside the checkout.
#   ZORVAN_BUILD_ROOT=<dir>   where it lives (default below)
#   ZORVAN_BUILD_ROOT_NO_UPDATE=1   skip the update of an existing root
#   ZORVAN_DEBIAN_MIRROR=<url>   a mirror to make it from (default:
#                                debootstrap's own)
ZORVAN_BUILD_ROOT=${ZORVAN_BUILD_ROOT:-/var/cache/zorvan-db2acs/bullseye}
zorvan_buildroot_suite=bullseye
# acl: the suite pastes the doctor's setfacl fixes, as on the host.
zorvan_buildroot_packages=(
  cmake make g++ file rpm cpio acl
  libgtest-dev libgmock-dev googletest nlohmann-json3-dev
  g++-powerpc64le-linux-gnu g++-s390x-linux-gnu g++-powerpc64-linux-gnu g++-aarch64-linux-gnu
)

# Release architecture -> toolchain file (empty: native) and Debian triplet.
zorvan_arch_toolchain() {
  case "$1" in
    x86_64) echo "" ;;
    ppc64le) echo "cmake/toolchains/ppc64el.cmake" ;;
    s390x | ppc64 | aarch64) echo "cmake/toolchains/$1.cmake" ;;
    *) return 1 ;;
  esac
}
zorvan_arch_triplet() {
  case "$1" in
    x86_64) echo x86_64-linux-gnu ;;
    ppc64le) echo powerpc64le-linux-gnu ;;
    s390x) echo s390x-linux-gnu ;;
    ppc64) echo powerpc64-linux-gnu ;;
    aarch64) echo aarch64-linux-gnu ;;
    *) return 1 ;;
  esac
}
zorvan_arch_deb() {
  case "$1" in
    x86_64) echo amd64 ;;
    ppc64le) echo ppc64el ;;
    aarch64) echo arm64 ;;
    *) echo "$1" ;;
  esac
}
zorvan_release_arches="x86_64 ppc64le s390x ppc64 aarch64"

# Makes the root when it is missing (or was left half made) and updates it
# otherwise; installs what the builds need.
zorvan_buildroot_prepare() {
  local root=$ZORVAN_BUILD_ROOT
  if [ "$(id -u)" -ne 0 ]; then
    echo "the build root needs root (debootstrap, chroot)" >&2
    return 1
  fi
  "$ZORVAN_SOURCE/scripts/deps.sh" debootstrap
  if [ ! -e "$root/.zorvan-complete" ]; then
    echo "making the Debian 11 build root in $root (a few minutes, once)" >&2
    rm -rf "$root"
    mkdir -p "$(dirname "$root")"
    debootstrap --variant=buildd "$zorvan_buildroot_suite" "$root" ${ZORVAN_DEBIAN_MIRROR:-} \
      >"$root.debootstrap.log" 2>&1 || {
      tail -20 "$root.debootstrap.log" >&2
      return 1
    }
    touch "$root/.zorvan-complete"
    rm -f "$root.debootstrap.log"
  fi
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mkdir -p "$root/src"
  local apt="env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o Dpkg::Use-Pty=0"
  if [ -z "${ZORVAN_BUILD_ROOT_NO_UPDATE:-}" ]; then
    chroot "$root" $apt update >&2
    chroot "$root" $apt upgrade >/dev/null
  fi
  chroot "$root" $apt install --no-install-recommends "${zorvan_buildroot_packages[@]}" >/dev/null
}

# Runs a command inside the root with the checkout at /src, in a mount
# namespace of its own so that nothing mounted for it outlives it. The
# root is bind-mounted onto itself so that its / is a mount point, as the
# test harness's private /tmp needs. The environment is a fixed one, and
# SOURCE_DATE_EPOCH when set (release.sh).
zorvan_buildroot_run() {
  unshare -m bash -c '
    set -e
    root=$1 src=$2; shift 2
    mount --make-rprivate /
    mount --bind "$root" "$root"
    mount --bind "$src" "$root/src"
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
    exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
      ${SOURCE_DATE_EPOCH:+SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH} \
      bash -c "cd /src && exec \"\$@\"" bash "$@"
  ' bash "$ZORVAN_BUILD_ROOT" "$ZORVAN_SOURCE" "$@"
}
