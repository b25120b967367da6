#!/usr/bin/env bash
# Proves the release files reproducible: builds the x86_64 release again,
# from a second clone of the same commit in another directory, and
# compares its .tar.gz, .deb and .rpm byte for byte with those in dist/
# (by dist/SHA256SUMS). Run after scripts/release.sh, from a checkout
# without uncommitted changes (the clone has only what is committed).
# Needs root, like release.sh; takes about as long as its x86_64 build.
set -euo pipefail
ZORVAN_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$ZORVAN_SOURCE"
version=$(sed -n 's/^project(zorvan_db2acs VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
files=("zorvan-db2acs-$version-x86_64.tar.gz" "zorvan-db2acs_${version}_amd64.deb"
       "zorvan-db2acs-$version-1.x86_64.rpm")
for f in "${files[@]}"; do
  if ! grep -q "  $f\$" dist/SHA256SUMS 2>/dev/null; then
    echo "dist/SHA256SUMS does not list $f: run scripts/release.sh first" >&2
    exit 2
  fi
done
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "the checkout has uncommitted changes, which a clone would not have: commit them first" >&2
  exit 2
fi

clone=$(mktemp -d /var/tmp/zorvan-rebuild.XXXXXX)
trap 'rm -rf "$clone"' EXIT
git clone -q --no-checkout "$ZORVAN_SOURCE" "$clone/checkout"
git -C "$clone/checkout" checkout -q "$(git rev-parse HEAD)"
echo "rebuilding the x86_64 release in $clone/checkout"
if ! ZORVAN_BUILD_ROOT_NO_UPDATE=1 "$clone/checkout/scripts/release.sh" x86_64 >"$clone/release.log" 2>&1; then
  tail -n 40 "$clone/release.log"
  echo "the second release build failed" >&2
  exit 1
fi
status=0
for f in "${files[@]}"; do
  first=$(grep "  $f\$" dist/SHA256SUMS | cut -d' ' -f1)
  second=$(cd "$clone/checkout/dist" && sha256sum "$f" | cut -d' ' -f1)
  if [ "$first" = "$second" ]; then
    echo "same:    $first  $f"
  else
    echo "differs: $first  $f (dist/)"
    echo "         $second  $f (second build, kept in build-release/rebuild/)"
    mkdir -p build-release/rebuild
    cp "$clone/checkout/dist/$f" build-release/rebuild/
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "the second build gave the same bytes"
exit "$status"
