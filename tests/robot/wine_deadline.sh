#!/bin/sh
# CTest's emulator for the test programs: runs one under Wine, but ends it shortly before CTest's
# own timeout would, so that what it leaves behind is dealt with here. The processes a killed test
# program started go with it (each is in a job that ends with the program's handles). A wineserver
# that no longer answers holds every Wine program, the tests after this one too: it is ended with
# the Wine programs of this prefix, which cannot go on without it, and the next Wine program starts
# a new one.
deadline=${KVS_TEST_DEADLINE:-285}
timeout -s KILL "$deadline" "$@"
status=$?
[ "$status" = 137 ] || exit "$status"
echo "wine_deadline: the test program was killed at its deadline of $deadline s" >&2
if ! timeout -s KILL 20 "$1" cmd /c exit </dev/null >/dev/null 2>&1; then
  if [ -n "${KVS_WINESERVER_PID:-}" ] && kill -KILL "$KVS_WINESERVER_PID" 2>/dev/null; then
    echo "wine_deadline: the wineserver no longer answered and was ended" >&2
    # Wine programs (they map ntdll) of this prefix only: never another prefix's.
    for process in /proc/[0-9]*; do
      if grep -qzxF "WINEPREFIX=${WINEPREFIX:-}" "$process/environ" 2>/dev/null &&
        grep -qF "/ntdll.so" "$process/maps" 2>/dev/null; then
        kill -KILL "${process#/proc/}" 2>/dev/null
      fi
    done
  else
    echo "wine_deadline: the wineserver no longer answers" >&2
  fi
fi
exit "$status"
