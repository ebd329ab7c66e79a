#!/bin/sh
# Creates a sandboxed Wine prefix.
# Usage: new-prefix.sh PREFIX HOME [--null-display]
#
# A new prefix links the user's Desktop, Documents, Downloads, ... to the
# Linux home folder, and LumetUpdate searches and deletes in profile folders:
# those links are replaced by real folders before anything runs in the prefix,
# and wineboot runs with HOME in a folder of its own. --null-display lets dialogs, message
# boxes and worker threads run with no X display at all (for tests).
set -eu

prefix=$1
home=$2
null_display=${3:-}
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-$(dirname "$WINE")/wineserver}

mkdir -p "$home"
export WINEPREFIX="$prefix" HOME="$home" WINEDEBUG=-all

if ! "$WINE" wineboot --init >"$home/wineboot.log" 2>&1; then
    cat "$home/wineboot.log" >&2
    echo "new-prefix: wineboot failed" >&2
    exit 1
fi
"$WINESERVER" -w

find "$WINEPREFIX/drive_c" -type l | while read -r link; do
    rm -f "$link"
    mkdir -p "$link"
done
if [ -n "$(find "$WINEPREFIX/drive_c" -type l)" ]; then
    echo "new-prefix: links out of the prefix remain in $WINEPREFIX/drive_c" >&2
    exit 1
fi

if [ "$null_display" = --null-display ]; then
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
fi
# A program that crashes ends at once with a report on its output, instead of
# waiting for ever behind a crash dialog that no one can see or close.
"$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
# No window manager waits on closing windows.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$WINESERVER" -w
