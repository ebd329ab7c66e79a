#!/bin/sh
# Runs LumetUpdate.exe in a Wine virtual desktop on $DISPLAY, takes a
# screenshot while its window is up, and waits for the prefix to fall idle.
# With LUMET_DEMO_POWER_LOSS=1, once the package's install is held (the demo's
# held release marks C:\lumet-blocked), every process of the prefix ends at
# once, as in a power loss; the prefix then starts again, as Windows starts
# again, and its service manager starts the update's resume service.
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

if [ "${LUMET_DEMO_POWER_LOSS:-}" = 1 ]; then
    drive=$WINEPREFIX/drive_c
    i=0
    until [ -s "$drive/lumet-blocked" ] || [ $i -ge 1200 ]; do i=$((i + 1)); sleep 0.1; done
    services_key='HKLM\System\CurrentControlSet\Services'
    # The update's resume services, by name.
    services() {
        "$WINE" reg query "$services_key" 2>/dev/null | tr -d '\r' | sed -n 's/.*\\\(LumetUpdate-{[^}]*}\)$/\1/p'
    }
    echo "the install is under way, and the update has registered its resume service for the next start:"
    for service in $(services); do
        "$WINE" reg query "$services_key\\$service" 2>/dev/null | tr -d '\r' | sed -e '/^$/d' -e 's/^/  /'
    done
    echo "the machine loses power now (every process of the prefix ends at once)"
    "$WINESERVER" -k
    "$WINESERVER" -w
    rm -f "$drive/lumet-block" "$drive/lumet-blocked"
    echo "the machine starts again, and its service manager starts the resume service"
    "$WINE" cmd /c exit >/dev/null 2>&1
fi

# Every program of this prefix, the updater and the started application
# included (after a power loss: the resumed update), has ended when the
# wineserver exits.
timeout 600 "$WINESERVER" -w
if [ "${LUMET_DEMO_POWER_LOSS:-}" = 1 ]; then
    left=$(services | tr '\n' ' ')
    timeout 600 "$WINESERVER" -w
    echo "the resumed update has ended; resume services left: ${left:-none}"
fi
