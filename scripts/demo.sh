#!/usr/bin/env bash
# The main job, end to end: builds the library, acs-host (the stand-in for
# DB2) and the reference back end, lays out a throwaway installation
# (registry, instance, properties file, back end) and runs a backup, a
# query, a restore, a delete and a last query through acs-host. It prints
# one line per call and one closing line: whether backup, restore and
# delete worked, and where the trace and the back end's journal were kept.
#
# The restore proves itself: acs-host checks that the metadata it gets back
# is what its backup stored, and the back end that the partition restored
# is the one its backup was given.
#
# With a private /tmp (root: a mount namespace; otherwise a user namespace
# where the system allows one) the demo switches tracing on in it, so the
# trace file is its own, never the host's.
#   scripts/demo.sh [--verbose]     one line per call; --verbose prints acs-host's
#                                   whole tables, the trace and the journal
#   scripts/demo.sh --tree DIR      run an installed tree (a release tarball
#                                   unpacked, an install prefix) instead of
#                                   building: DIR/bin/acs-host, DIR/lib/...
#   BUILD_DIR=<dir>                 build directory (default ./build-demo)
#   ACS_HOST_WRAPPER="valgrind ..." run every acs-host under a tool
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
build=${BUILD_DIR:-$(zorvan_build_dir "$root" -demo)}
kept=$build/demo

verbose=0
tree=
args=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --verbose) verbose=1; shift ;;
    --tree) [ $# -ge 2 ] || { echo "usage: $0 [--verbose] [--tree DIR]" >&2; exit 2; }
            tree=$(cd "$2" && pwd); shift 2 ;;
    *) echo "usage: $0 [--verbose] [--tree DIR]" >&2; exit 2 ;;
  esac
done
set -- ${args[@]+"${args[@]}"}
if [ -n "$tree" ]; then
  acs_host=$tree/bin/acs-host
  library=$tree/lib/libzorvan_db2acs.so
  backend=$tree/lib/zorvan-db2acs/examples/libqxacsint.so
else
  acs_host=$build/tools/acs-host/acs-host
  library=$build/lib/libzorvan_db2acs.so
  backend=$build/examples/backend/libqxacsint.so
fi

# Builds only the three programs the demo runs. A fresh build directory
# gets no test suite; one that exists (e.g. the test suite's) is built as
# it was configured. Package installs and the build go to one log; one
# line says what they took.
build_programs() {
  mkdir -p "$build"
  local log=$build/demo-build.log start=$SECONDS
  : >"$log"
  if ! "$root/scripts/deps.sh" cmake make g++ libc6-dev >>"$log" 2>&1; then
    tail -n 5 "$log"
    echo "demo: FAILED to install what it needs (whole log: $log)"
    exit 1
  fi
  local installed=$((SECONDS - start)) configure=(-DZORVAN_WERROR=ON)
  [ -f "$build/CMakeCache.txt" ] || configure+=(-DZORVAN_BUILD_TESTS=OFF)
  if ! { cmake -S "$root" -B "$build" "${configure[@]}" &&
         cmake --build "$build" -j"$(nproc)" --target zorvan_db2acs acs-host qxacsint_example
       } >>"$log" 2>&1; then
    tail -n 30 "$log"
    echo "demo: FAILED to build (whole log: $log)"
    exit 1
  fi
  local packages
  packages=$(sed -n 's/^installed \([0-9]*\) packages.*/\1 packages installed/p' "$log")
  echo "${packages:-nothing to install} (${installed}s); library, acs-host and back end built" \
       "($((SECONDS - start - installed))s); log: $log"
}

if [ "${ZORVAN_DEMO_INNER:-}" != 1 ]; then
  if [ -n "$tree" ]; then
    mkdir -p "$build"
    echo "running the installed tree $tree"
  else
    build_programs
  fi
  rm -rf "$kept"
  mkdir -p "$kept"
  . "$root/scripts/private-tmp.sh"
  if zorvan_private_tmp_check >/dev/null; then
    export ZORVAN_DEMO_INNER=1 BUILD_DIR="$build"
    zorvan_private_tmp_run bash "$0" "$@"
  fi
  echo "(no private /tmp here: tracing stays off)"
  export ZORVAN_DEMO_NO_TRACE=1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvan-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The installation: <home>/Base holds the back end.
home=$work/install
mkdir -p "$home/Base"
cp "$backend" "$home/Base/"
chmod 755 "$home/Base/libqxacsint.so"

# The registry: Instance001 with the DB2 agent, its properties file naming
# the home directory.
export QXREG=$work/registry
mkdir -p "$QXREG/Zorvan/Instance001/Base"
touch "$QXREG/Zorvan/Instance001/Db2Agent"
printf 'dZORVANHOME %s\n' "$home" >"$QXREG/Zorvan/Instance001/Base/.properties"
unset ZORVAN_INST

# The back end's catalogue and journal stay in the build directory.
export QXACS_EXAMPLE_DIR=$kept/catalogue
journal=$QXACS_EXAMPLE_DIR/journal.log
trace=$kept/trace.log
[ -n "${ZORVAN_DEMO_NO_TRACE:-}" ] || : >/tmp/db2acstrace.log

host=(${ACS_HOST_WRAPPER:-} "$acs_host" --lib "$library")
failed=()
# run <sequence> <what its output must show>: prints the table, notes a
# failure when acs-host fails or the output lacks the evidence.
run() {
  local out status=0
  out=$("${host[@]}" --sequence "$1" 2>&1) || status=$?
  if [ "$verbose" -eq 1 ]; then
    printf '\n%s\n' "$out"
  else
    # One line per call: its number, function, return code and outcome,
    # and what it showed (created, object, metadata, restored).
    awk -v seq="$1" '
      / description: / { next }
      /^ *[0-9]+  db2ACS/ {
        if (line != "") print line
        outcome = $0; sub(/.*[0-9]\.[0-9]  /, "", outcome)
        line = sprintf("%-8s %2s %-23s %3s %s", seq, $1, $2, $4, outcome); next }
      /^     [a-z]/ { text = $0; sub(/^ +/, "", text); line = line "; " text }
      END { if (line != "") print line }' <<<"$out"
  fi
  if [ "$status" -ne 0 ]; then
    failed+=("$1 (acs-host exit $status)")
  elif ! grep -q -- "$2" <<<"$out"; then
    failed+=("$1 (no \"$2\")")
  fi
}
run backup "created: snapshot image "
run query "1 object$"
run restore "as backed up$"
run delete "db2ACSDelete .* ok$"
run query "0 objects$"

lines_of() { if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi; }
if [ -z "${ZORVAN_DEMO_NO_TRACE:-}" ]; then
  cp /tmp/db2acstrace.log "$trace"
  where="trace: $trace ($(lines_of "$trace") lines)"
else
  where="trace: off (no private /tmp)"
fi
where+=", journal: $journal ($(lines_of "$journal") lines)"

if [ "$verbose" -eq 1 ]; then
  [ -f "$trace" ] && { echo; echo "=== trace written by the library ==="; cat "$trace"; }
  echo; echo "=== back-end journal ==="; cat "$journal" 2>/dev/null || echo "(none)"
fi
echo
if [ ${#failed[@]} -eq 0 ]; then
  echo "demo: backup, restore and delete worked; $where"
else
  what=$(printf '%s, ' "${failed[@]}")
  echo "demo: FAILED: ${what%, }; $where"
  exit 1
fi
