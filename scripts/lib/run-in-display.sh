#!/bin/sh
# Runs LumetUpdate.exe in a Wine virtual desktop on $DISPLAY, takes a
# screenshot while its window is up, and waits for the prefix to fall idle.
# Usage: run-in-display.sh EXE PACKAGE SCREENSHOT
set -u
exe=$1
package=$2
shot=$3
desktop=560x200

rm -f "$shot"
output=$(mktemp)
"$WINE" explorer /desktop=LumetUpdate,$desktop "$exe" "$package" >"$output" 2>&1 &

# The update may take only a second or two: look at the desktop a few times a
# second, for up to a minute, until the window is on it (an empty desktop has
# one or two colours).
frame=$(mktemp --suffix=.png)
end=$(($(date +%s) + 60))
while [ "$(date +%s)" -lt "$end" ]; do
    if import -window root -crop "$desktop+0+0" +repage "$frame" 2>/dev/null &&
        [ "$(identify -format %k "$frame" 2>/dev/null || echo 0)" -gt 8 ]; then
        mv "$frame" "$shot"
        break
    fi
    sleep 0.1
done
rm -f "$frame"
if [ ! -f "$shot" ]; then
    echo "(no window seen for a screenshot; what Wine said:)"
    cat "$output"
fi
rm -f "$output"

# Every program of this prefix, the updater and the started application
# included, has ended when the wineserver exits.
timeout 600 "$WINESERVER" -w
