#!/usr/bin/env bash
# The main job, end to end: builds everything, lays out a throwaway
# installation (registry, instance, properties file, back end), and runs a
# snapshot backup, a query and a delete through acs-host, the stand-in for
# DB2, printing each call's result and the trace the library wrote.
#
# As root it runs inside a private mount namespace, so the trace file
# /tmp/db2acstrace.log it switches on is its own, never the host's.
# Nothing is left behind: the throwaway tree is removed at the end.
#   scripts/demo.sh            build into ./build and run
#   ACS_HOST_WRAPPER="valgrind ..." scripts/demo.sh   run acs-host under a tool
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
build=${BUILD_DIR:-$(zorvan_build_dir "$root")}

if [ "${ZORVAN_DEMO_INNER:-}" != 1 ]; then
  "$root/scripts/build.sh" "$build"
  if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    exec unshare -m env ZORVAN_DEMO_INNER=1 BUILD_DIR="$build" bash -c \
      'mount --make-rprivate / && mount -t tmpfs -o mode=1777 tmpfs /tmp && exec "$0"' "$0"
  fi
  echo "(not root: running without a private /tmp, so tracing stays off)"
  export ZORVAN_DEMO_NO_TRACE=1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvan-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The installation: <home>/Base holds the back end.
home=$work/install
mkdir -p "$home/Base"
cp "$build/examples/backend/libqxacsint.so" "$home/Base/"
chmod 755 "$home/Base/libqxacsint.so"

# The registry: Instance001 with the DB2 agent, its properties file naming
# the home directory.
export QXREG=$work/registry
mkdir -p "$QXREG/Zorvan/Instance001/Base"
touch "$QXREG/Zorvan/Instance001/Db2Agent"
printf 'dZORVANHOME %s\n' "$home" >"$QXREG/Zorvan/Instance001/Base/.properties"
unset ZORVAN_INST

export QXACS_EXAMPLE_DIR=$work/catalogue
[ -n "${ZORVAN_DEMO_NO_TRACE:-}" ] || : >/tmp/db2acstrace.log

host=(${ACS_HOST_WRAPPER:-} "$build/tools/acs-host/acs-host" --lib "$build/lib/libzorvan_db2acs.so")
status=0
for sequence in backup query delete query; do
  echo
  echo "=== $sequence ==="
  "${host[@]}" --sequence "$sequence" || status=$?
done

if [ -f /tmp/db2acstrace.log ] && [ -z "${ZORVAN_DEMO_NO_TRACE:-}" ]; then
  echo
  echo "=== trace written by the library ($(wc -l </tmp/db2acstrace.log) lines) ==="
  cat /tmp/db2acstrace.log
fi
echo
echo "=== back-end journal ==="
cat "$QXACS_EXAMPLE_DIR/journal.log" 2>/dev/null || echo "(none)"
exit "$status"
