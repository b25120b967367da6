#!/usr/bin/env bash
# Rewrites what cpack made so that the same commit gives the same bytes,
# whoever builds it, wherever and whenever: CMake 3.18's CPack takes each
# file's time from the disk and stamps a .deb's control files and members
# with the time of packaging. Contents, modes and names stay as CPack made
# them; what changes:
#   - every time is SOURCE_DATE_EPOCH (the last commit's, from release.sh),
#     a checkout's older files' too;
#   - every owner is root, by number;
#   - entries in sorted order (a .deb's md5sums too), not the directory's;
#   - gzip without a name or time stamp.
# The .rpm needs none of this: rpmbuild takes its build time from
# SOURCE_DATE_EPOCH, the package's %install step sets every file's time
# (cmake/Packaging.cmake), and rpm sorts and numbers the files itself.
# Runs inside the build root, as root, with the build root's GNU tar and
# dpkg-deb.
#   scripts/repack-reproducibly.sh <package.tar.gz | package.deb>...
set -euo pipefail
: "${SOURCE_DATE_EPOCH:?must be set, to the time of the last commit}"
export SOURCE_DATE_EPOCH
sorted_tar() {  # sorted_tar <dir> <entries...>: the tar stream on stdout
  local dir=$1
  shift
  tar -C "$dir" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --format=gnu -cf - "$@"
}

for package in "$@"; do
  work=$(mktemp -d "$package.repack.XXXXXX")
  case "$package" in
    *.tar.gz)
      mkdir "$work/tree"
      tar -xzf "$package" -C "$work/tree" --same-owner --same-permissions
      mapfile -t top < <(ls -A "$work/tree")
      sorted_tar "$work/tree" "${top[@]}" | gzip -9n >"$work/out"
      ;;
    *.deb)
      dpkg-deb --raw-extract "$package" "$work/tree"
      if [ -f "$work/tree/DEBIAN/md5sums" ]; then
        LC_ALL=C sort -k2 -o "$work/tree/DEBIAN/md5sums" "$work/tree/DEBIAN/md5sums"
      fi
      # dpkg-deb sorts the entries and, given SOURCE_DATE_EPOCH, stamps
      # the ar members with it, but only clamps the files' later times.
      find "$work/tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
      dpkg-deb --root-owner-group -Zgzip -z9 --build "$work/tree" "$work/out" >/dev/null
      ;;
    *) echo "repack-reproducibly.sh: not a .tar.gz or .deb: $package" >&2; exit 2 ;;
  esac
  chmod 644 "$work/out"
  mv "$work/out" "$package"
  rm -rf "$work"
done
