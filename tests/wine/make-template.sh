#!/bin/sh
# Builds, once per build folder, the Wine prefix that every test run copies.
# Usage: make-template.sh TEMPLATE_DIR
#
# The template is sandboxed before anything runs in it: a new prefix links the
# user's Desktop, Documents, Downloads, ... to the Linux home folder, and the
# program under test searches and deletes in profile folders. Those links are
# replaced by real folders, and wineboot runs with HOME in a scratch folder.
set -eu

template=$1
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-$(dirname "$WINE")/wineserver}

mkdir -p "$(dirname "$template")"
exec 9>"$template.lock"
flock 9

[ -f "$template/ready" ] && exit 0

rm -rf "$template"
mkdir -p "$template/home"
export WINEPREFIX="$template/prefix" HOME="$template/home" WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

"$WINE" wineboot --init >"$template/wineboot.log" 2>&1 || {
    cat "$template/wineboot.log" >&2
    echo "make-template: wineboot failed" >&2
    exit 1
}
"$WINESERVER" -w

find "$WINEPREFIX/drive_c" -type l | while read -r link; do
    rm -f "$link"
    mkdir -p "$link"
done
if [ -n "$(find "$WINEPREFIX/drive_c" -type l)" ]; then
    echo "make-template: links out of the prefix remain" >&2
    exit 1
fi

# Windows without a display: dialogs, message boxes and worker threads run
# on the null graphics driver. No window manager waits on closing windows.
"$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$WINESERVER" -w

touch "$template/ready"
