# Functions of the demo: prepare a machine with Vimo Lumet installed, show its
# state, run the updater in a window. Sourced by scripts/demo.sh with WINE,
# WINESERVER and WINEPREFIX set.

UNINSTALL_KEY='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
MAKER_KEY='HKLM\SOFTWARE\WOW6432Node\Vimo\Vimo 2020\Installer\Applications\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}'
drive_c=$WINEPREFIX/drive_c

# Z:\... form of a Linux path, for Windows programs.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Linux path of a C:\... path.
unixpath() { printf '%s' "$1" | sed -e 's/^[Cc]://' -e 's/\\/\//g' -e "s|^|$drive_c|"; }

wine_quiet() { "$WINE" "$@" >/dev/null 2>&1; }

prepare_machine() {
    packages=$1
    for n in 2 6; do
        echo "installing listed older release: earlier-$n.msi"
        wine_quiet msiexec /i "$(winpath "$packages/earlier-$n.msi")" /qn || return 1
    done
    echo "installing Vimo Lumet 3.1 (installed.msi) into C:\\Program Files (x86)\\Vimo\\"
    wine_quiet msiexec /i "$(winpath "$packages/installed.msi")" /qn || return 1

    echo "leaving leftovers: data folder, per-user key, desktop shortcut, start-menu entry"
    data=$drive_c/ProgramData/Vimo/VimoLumet
    mkdir -p "$data/cache/thumbnails" "$drive_c/users/Public/Desktop" \
        "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vimo"
    echo "window=1" >"$data/settings.ini"
    echo "thumbnail" >"$data/cache/thumbnails/0001.bin"
    echo "[InternetShortcut]" >"$drive_c/users/Public/Desktop/VimoLumet.lnk"
    echo "[InternetShortcut]" >"$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vimo/VimoLumet.lnk"
    wine_quiet reg add 'HKCU\Software\Vimo\Lumet' /v LastProject /d 'C:\Projects\demo.lum' /f
    wine_quiet reg add 'HKCU\Software\Vimo\Lumet\Recent' /v 0 /d 'C:\Projects\older.lum' /f
    "$WINESERVER" -w
}

show_machine() {
    echo "Installed products (32-bit uninstall entries):"
    "$WINE" reg query "$UNINSTALL_KEY" /s 2>/dev/null | tr -d '\r' | awk '
        /^HKEY_/ { key = $0; sub(/.*\\/, "", key); next }
        $1 == "DisplayName" { $1 = ""; $2 = ""; names[key] = substr($0, 3) }
        $1 == "DisplayVersion" { vers[key] = $3 }
        $1 == "InstallLocation" { $1 = ""; $2 = ""; locs[key] = substr($0, 3) }
        END {
            n = 0
            for (k in names) if (names[k] ~ /Vimo/) {
                printf "  %s  %-22s %-9s %s\n", k, names[k], vers[k], (locs[k] == "" ? "" : "in " locs[k]); n++
            }
            if (n == 0) print "  (none)"
        }' | sort -k2
    code=$("$WINE" reg query "$MAKER_KEY" /v ProductCode 2>/dev/null | tr -d '\r' | awk '$1 == "ProductCode" { print $3 }')
    echo "Maker's installer key, ProductCode: ${code:-(none)}"
    echo "Files under C:\\Program Files (x86)\\Vimo:"
    list_files "$drive_c/Program Files (x86)/Vimo"
    echo "Data folder C:\\ProgramData\\Vimo\\VimoLumet:"
    list_files "$drive_c/ProgramData/Vimo/VimoLumet"
    echo "Per-user key HKCU\\Software\\Vimo\\Lumet:"
    if "$WINE" reg query 'HKCU\Software\Vimo\Lumet' /s >/dev/null 2>&1; then
        "$WINE" reg query 'HKCU\Software\Vimo\Lumet' /s 2>/dev/null | tr -d '\r' | sed -e '/^$/d' -e 's/^/  /'
    else
        echo "  (no such key)"
    fi
    echo "Shortcuts:"
    list_files "$drive_c/users/Public/Desktop"
    list_files "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vimo"
}

list_files() {
    if [ -d "$1" ] && [ -n "$(find "$1" -mindepth 1 | head -1)" ]; then
        find "$1" -mindepth 1 | sort | sed "s|^$drive_c|  C:|" | tr / '\\'
    elif [ -d "$1" ]; then
        echo "  (empty folder)"
    else
        echo "  (no such folder)"
    fi
}

# run_updater EXE PACKAGE SCREENSHOT: runs LumetUpdate.exe in a Wine virtual
# desktop on the display (Xvfb when there is none), saves a screenshot while
# its window is up, and waits until every program of the prefix has ended.
run_updater() {
    if [ -n "${DISPLAY:-}" ]; then
        sh scripts/lib/run-in-display.sh "$@"
    else
        echo "(no display: running under Xvfb)"
        xvfb-run -a -s "-screen 0 800x480x24" sh scripts/lib/run-in-display.sh "$@"
    fi
}

show_run_results() {
    log=""
    for log in $(ls "$drive_c"/users/*/AppData/Local/Vimo/VimoLumet/Log/Vimo_LumetUpdate*.log 2>/dev/null); do
        printf '%s\n' "A run's log ($(basename "$log")), line ends shown as \\r\\n:"
        sed -e 's/\r$/\\r\\n/' "$log" | sed 's/^/  /'
        echo
    done
    [ -n "$log" ] || echo "The run's log: (none found)"
    logs=$(ls "$drive_c"/users/*/Temp/VimoLog/ 2>/dev/null | wc -l)
    echo "Installer logs under %TEMP%\\VimoLog: $logs file(s)"
    exe=$(tr -d '\r' <"${log:-/dev/null}" | sed -n '/^Run Lumet$/{n;p;q}')
    if [ -n "$exe" ] && [ -f "$(unixpath "$exe").started" ]; then
        echo "Application started: yes, $exe (it left its marker)"
    elif [ -n "$exe" ]; then
        echo "Application started: no sign of $exe having run"
    fi
}
