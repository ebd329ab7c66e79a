# A fresh, throwaway copy of the sandboxed test prefix, and its end; sourced
# by the Wine runner and the power-loss tests, with wine_dir set to this
# folder.
# Environment: WINE (default /usr/lib/wine/wine64); LUMET_KEEP_PREFIX=1 keeps
# the copy for inspection.

WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-$(dirname "$WINE")/wineserver}
export WINE WINESERVER

# new_run ROOT NAME: makes the template below ROOT once, then a copy of it in
# a new folder $run (its prefix in $run/prefix, a home of its own in
# $run/home). False when the template cannot be made.
new_run() {
    mkdir -p "$1"
    root=$(cd "$1" && pwd)
    "$wine_dir/make-template.sh" "$root/template" || return 1
    mkdir -p "$root/runs"
    run=$(mktemp -d "$root/runs/$2.XXXXXX")
    cp -a "$root/template/prefix" "$run/prefix"
    mkdir -p "$run/home"
}

# end_prefix: ends the copy's own wineserver, never Wine processes by name. A
# program that was being started as the server ended (the shell starting the
# application, say) never reached the server and waits for it for ever: what
# still runs with this copy's prefix in its environment, but this script, is
# ended by its process number.
end_prefix() {
    WINEPREFIX="$run/prefix" "$WINESERVER" -k 2>/dev/null
    WINEPREFIX="$run/prefix" "$WINESERVER" -w 2>/dev/null
    for environ in /proc/[0-9]*/environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        [ "$pid" = $$ ] && continue
        if { tr '\0' '\n' <"$environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$run/prefix"; then
            kill -KILL "$pid" 2>/dev/null || true
        fi
    done
}

# end_run: ends the copy's programs (end_prefix) and removes the copy.
end_run() {
    end_prefix
    if [ "${LUMET_KEEP_PREFIX:-0}" = 1 ]; then
        echo "prefix kept in $run/prefix"
    else
        rm -rf "$run"
    fi
}
