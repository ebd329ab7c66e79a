#!/bin/sh
# Runs LumetUpdate.exe in a Wine virtual desktop on $DISPLAY, takes a
# screenshot once its window is up, and waits for the prefix to fall idle.
# Usage: run-in-display.sh EXE PACKAGE SCREENSHOT
set -u
exe=$1
package=$2
shot=$3

rm -f "$shot"
"$WINE" explorer /desktop=LumetUpdate,560x200 "$exe" "$package" >/dev/null 2>&1 &

# The window is up once the first installer run has made its log folder.
i=0
while [ $i -lt 300 ]; do
    if ls -d "$WINEPREFIX"/drive_c/users/*/Temp/VimoLog >/dev/null 2>&1; then
        sleep 1
        import -window root "$shot" 2>/dev/null || echo "(screenshot failed)"
        break
    fi
    sleep 0.2
    i=$((i + 1))
done

# Every program of this prefix, the updater and the started application
# included, has ended when the wineserver exits.
timeout 600 "$WINESERVER" -w
