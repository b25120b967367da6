#!/usr/bin/env bash
# Round trip through the example back end: backup, query (lists the new
# object), delete, query (lists none). Passes only when every run exits 0,
# the listings are as expected, and the back end's journal holds exactly
# the lines acs-host wrote for the arguments it passed (--args-log), which
# proves every argument arrived unchanged.
#
#   roundtrip-check.sh ACS_HOST BACKEND            calls BACKEND directly
#   roundtrip-check.sh ACS_HOST BACKEND LIBRARY    through LIBRARY, with a
#                                                  throwaway installation
#                                                  around a copy of BACKEND
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 ACS_HOST BACKEND [LIBRARY]" >&2; exit 2; }
host=$1
backend=$2
library=${3:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/acs-roundtrip.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ -n "$library" ]; then
  # Registry -> instance "roundtrip" -> properties -> <home>/Base/libqxacsint.so
  mkdir -p "$work/install/Base" "$work/registry/Zorvan/roundtrip/Base"
  cp "$backend" "$work/install/Base/libqxacsint.so"
  chmod 755 "$work/install/Base/libqxacsint.so"
  printf 'dZORVANHOME %s\n' "$work/install" >"$work/registry/Zorvan/roundtrip/Base/.properties"
  export QXREG=$work/registry
  unset ZORVAN_INST
  target=(--lib "$library" --vm-name roundtrip)
else
  target=(--backend-direct "$backend")
fi
export QXACS_EXAMPLE_DIR=$work/catalogue

fail() {
  echo "roundtrip-check: $*" >&2
  exit 1
}

step=0
run() {
  step=$((step + 1))
  out=$work/out.$step
  if ! "$host" "${target[@]}" --sequence "$1" --args-log "$work/args.$step" >"$out" 2>&1; then
    cat "$out" >&2
    fail "--sequence $1 failed"
  fi
}

run backup
grep -q '^ *created: obj-000001$' "$out" || fail "backup created no obj-000001"
run query
grep -q '^ *object: obj-000001$' "$out" || fail "query did not list obj-000001"
run delete
run query
! grep -q 'object: ' "$out" || fail "query still lists an object after delete"
[ -z "$(ls -A "$QXACS_EXAMPLE_DIR/objects")" ] || fail "objects/ not empty after delete"

cat "$work"/args.{1..4} >"$work/expected"
diff "$work/expected" "$QXACS_EXAMPLE_DIR/journal.log" >&2 ||
  fail "journal differs from what acs-host passed"
echo "roundtrip-check: ok ($(wc -l <"$work/expected") calls journaled as passed)"
