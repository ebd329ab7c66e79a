#!/bin/sh
# Runs one Windows program in a fresh, throwaway copy of the sandboxed test
# prefix and removes the copy afterwards.
# Usage: run-in-prefix.sh WINE_ROOT PROGRAM [ARGUMENTS...]
#
# Environment: WINE (default /usr/lib/wine/wine64); LUMET_WINE_TIMEOUT: seconds
# the program may run (default 840, below CTest's 900); LUMET_KEEP_PREFIX=1 keeps
# the copy for inspection; LUMET_WINE_ENV adds variables (NAME=VALUE ...) to
# the program's environment, e.g. LC_ALL for another system language.
set -u

wine_dir=$(cd "$(dirname "$0")" && pwd)
. "$wine_dir/prefix.sh"
new_run "$1" run || exit 1
shift

# The program's output goes to a file first: printed directly, the wineserver
# that Wine starts would inherit the pipe and keep CTest waiting.
out="$run/output.txt"
# The program gets a deadline of its own, below CTest's (which kills this
# script outright and would leave the prefix's Wine running): past it, the
# program is stopped and the prefix ended below as after any run.
# shellcheck disable=SC2086
timeout -k 10 "${LUMET_WINE_TIMEOUT:-840}" env WINEPREFIX="$run/prefix" HOME="$run/home" WINEDEBUG=-all DISPLAY= \
    ${LUMET_WINE_ENV:-} "$WINE" "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
[ $rc -eq 124 ] && echo "run-in-prefix: stopped after ${LUMET_WINE_TIMEOUT:-840} s"
# A test program whose Wine was ended under it may still leave with 0: it
# passed only if it got as far as its summary.
if [ $rc -eq 0 ] && grep -q '^\[==========\] Running' "$out" && ! grep -q '^\[==========\] .* ran\. (' "$out"; then
    echo "run-in-prefix: the test program ended before its summary"
    rc=1
fi

end_run
exit $rc
