#!/usr/bin/env bash
# Makes sure the Debian packages named on the command line are installed.
# As root it installs what is missing with apt-get; otherwise it names
# what to install and fails.
#   scripts/deps.sh cmake g++ libgtest-dev ...
set -euo pipefail

missing=()
for pkg in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "install them as root with: apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
installed() { dpkg-query -W -f='${Status}\n' | grep -c 'install ok installed'; }
before=$(installed)
apt-get update -qq >&2
apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
echo "installed $(($(installed) - before)) packages: ${missing[*]} and what they need (${SECONDS}s)" >&2
