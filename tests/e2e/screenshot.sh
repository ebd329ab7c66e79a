#!/bin/sh
# Runs LumetUpdate.exe on the new release in a copy of the test prefix that
# draws on a real (virtual) X display, and saves a screenshot of its window
# while the update runs. The picture is kept as a test artefact.
# Usage: screenshot.sh WINE_ROOT UPDATER_EXE PACKAGES_DIR OUT_PNG
set -eu
out=$4
here=$(cd "$(dirname "$0")" && pwd)
wine_dir=$here/../wine
. "$wine_dir/prefix.sh"
new_run "$1" shot
trap 'set +e; end_run' EXIT
mkdir -p "$(dirname "$out")" "$run/prefix/drive_c/Temp"
export WINEPREFIX="$run/prefix" HOME="$run/home" WINEDEBUG=-all

# This copy draws on the X display instead of the null driver of the tests.
"$WINE" reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1
cp "$3/new.msi" "$WINEPREFIX/drive_c/Temp/new.msi"
xvfb-run -a -s "-screen 0 800x480x24" sh "$here/../../scripts/lib/run-in-display.sh" "$2" 'C:\Temp\new.msi' "$out"

[ -s "$out" ] || { echo "screenshot: no picture was taken" >&2; exit 1; }
colours=$(identify -format %k "$out")
# A blank or single-colour picture means the window was not there.
[ "$colours" -gt 8 ] || { echo "screenshot: the picture is blank ($colours colours)" >&2; exit 1; }
grep -q "Run Lumet" "$WINEPREFIX"/drive_c/users/*/AppData/Local/Vimo/VimoLumet/Log/*.log ||
    { echo "screenshot: the update did not run to its end" >&2; exit 1; }
echo "screenshot: $out ($colours colours)"
