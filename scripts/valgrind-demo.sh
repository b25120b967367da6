#!/usr/bin/env bash
# The main job (scripts/demo.sh) with every acs-host run under Valgrind's
# memcheck: an invalid read or write, a jump on an uninitialised value or
# a definitely lost block in any run fails this script. It then proves
# that the one allocation the library keeps on purpose -- the
# "ZORVAN_INST=<name>" string it hands to putenv when the instance comes
# from the first-instance scan -- is still reachable at exit in every run.
#   scripts/valgrind-demo.sh
#   BUILD_DIR=/path scripts/valgrind-demo.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-dir.sh"
build=${BUILD_DIR:-$(zorvan_build_dir "$root" -demo)}

"$root/scripts/deps.sh" valgrind

# Outside /tmp: the demo runs in a private /tmp that vanishes with it.
logs=$build/valgrind-demo
rm -rf "$logs"
mkdir -p "$logs"

# demo.sh unsets ZORVAN_INST, so every run finds Instance001 by the scan
# and publishes it.
instance=Instance001
assignment="ZORVAN_INST=$instance"
bytes=$((${#assignment} + 1))

memcheck="valgrind --tool=memcheck --error-exitcode=99 --leak-check=full"
memcheck+=" --show-leak-kinds=definite,possible,reachable --errors-for-leak-kinds=definite"
memcheck+=" --track-origins=yes --num-callers=40 --log-file=$logs/memcheck.%p.log"
# acs-host closes the library before it exits: keep its symbols for the
# stacks. And leave glibc's exit-time clean-up out: it clears the
# environment array, which is the only place a putenv string is referred
# from, and would turn the intended string into a false "definitely lost".
memcheck+=" --keep-debuginfo=yes --run-libc-freeres=no"

status=0
ACS_HOST_WRAPPER="$memcheck" BUILD_DIR="$build" "$root/scripts/demo.sh" >"$logs/demo.out" 2>&1 ||
  status=$?
cat "$logs/demo.out"

shopt -s nullglob
runs=("$logs"/memcheck.*.log)
echo
echo "=== memcheck: ${#runs[@]} acs-host runs ==="
failed=0
[ "$status" -eq 0 ] || { echo "demo.sh failed with status $status (99: memcheck errors)"; failed=1; }
# backup, query, restore, delete, query
[ ${#runs[@]} -eq 5 ] || { echo "expected 5 acs-host runs under memcheck"; failed=1; }
for log in "${runs[@]}"; do
  summary=$(grep -E "ERROR SUMMARY" "$log" | tail -1)
  echo "$(basename "$log"): $summary"
  if ! grep -q "ERROR SUMMARY: 0 errors" "$log"; then
    echo "  memcheck reported errors:"; sed 's/^/    /' "$log"; failed=1
  fi
  if grep -qE "definitely lost: [1-9]" "$log"; then
    echo "  definitely lost memory:"; sed 's/^/    /' "$log"; failed=1
  fi
  # The loss record of the published string: one block of exactly the
  # assignment's size, allocated by malloc on GetZorvanBaseDir's behalf.
  if awk -v bytes="$bytes" '
      /are still reachable in loss record/ { inrec = ($2 == bytes && $5 == "1"); malloc = 0; next }
      inrec && /: malloc \(/ { malloc = 1 }
      inrec && malloc && /publishInstanceName|GetZorvanBaseDir/ { found = 1 }
      /^==[0-9]+== $/ { inrec = 0 }
      END { exit found ? 0 : 1 }' "$log"; then
    echo "  still reachable, as intended: $bytes bytes in 1 block ($assignment) from GetZorvanBaseDir"
  else
    echo "  the published $assignment ($bytes bytes) is not reported as still reachable"
    failed=1
  fi
done
exit "$failed"
