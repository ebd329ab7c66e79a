#!/bin/sh
# Power losses during an update: every process of a fresh Wine prefix ended at
# once (wineserver -k) while the updater works, then the prefix started again,
# its service manager starting the resume service; the steps program's cases
# set up, wait for and check the machine.
# Usage: power-loss.sh SCENARIO WINE_ROOT STEPS_EXE
#   removals       lost while the earlier releases are removed
#   install-twice  lost during the install, and again during the resumed install
#   cut-short      lost during the install, the package's copy then cut short
#   temp-emptied   lost during the install, every temporary folder then emptied
#   sweep-update   lost at instants spread over a whole update
#   sweep-resumed  lost during the removals, then at instants of the resumed update
set -u
scenario=$1
steps=$3
wine_dir=$(cd "$(dirname "$0")/../wine" && pwd)
. "$wine_dir/prefix.sh"
new_run "$2" loss || exit 1
export WINEPREFIX="$run/prefix" HOME="$run/home" WINEDEBUG=-all DISPLAY=
drive=$WINEPREFIX/drive_c
status=0

fail() { echo "power-loss: $*"; status=1; }
# step NAME [WHEN]: one case of the steps program, which must pass.
step() {
    timeout 600 "$WINE" "$steps" --gtest_filter="PowerLoss.$1" >"$run/$1.txt" 2>&1 </dev/null
    cat "$run/$1.txt"
    grep -q '^\[  PASSED  \] 1 test' "$run/$1.txt" || { fail "step $1 did not pass${2:+ $2}"; return 1; }
}
# wait_for CONDITION: looked at every 20 ms or so, two minutes at most.
wait_for() {
    i=0
    until eval "$1"; do
        i=$((i + 1))
        [ $i -le 6000 ] || { fail "$scenario: never came: $1"; return 1; }
        sleep 0.02
    done
}
# The installer runs begun so far, by their logs (in VimoLog or one moved aside).
installer_logs() { ls "$drive"/users/*/Temp/VimoLog*/VimoLumet*.log 2>/dev/null | wc -l; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
sleep_ms() { [ "$1" -le 0 ] || sleep "$(($1 / 1000)).$(printf %03d $(($1 % 1000)))"; }
lose_power() { "$WINESERVER" -k; "$WINESERVER" -w; }
# Whether a resume service is registered, as the registry on disk says.
service_left() { grep -qi '^\[System\\\\CurrentControlSet\\\\Services\\\\LumetUpdate-' "$WINEPREFIX/system.reg"; }
# power_lost WHEN: the power lost, and how far the update had come.
power_lost() {
    lose_power
    echo "=== power lost $1: $(installer_logs) installer runs begun," \
        "resume service left: $(service_left && echo yes || echo no)"
}
# The machine starts again, over once all it started has ended (the registry
# is then on disk).
next_start() {
    step StartOfTheMachine "${1:-}"
    timeout 180 "$WINESERVER" -w || { fail "the start did not end within 3 minutes ${1:-}"; lose_power; }
}
# The update, in the background, of a package whose install waits while
# C:\lumet-block exists.
start_update() { "$WINE" 'C:\Tools\LumetUpdate.exe' 'C:\Temp\slow.msi' >/dev/null 2>&1 </dev/null & }
# update_anew: the update started in the prefix made anew as Prepare left it,
# from a copy taken the first time (before any update: a copy keeps no file
# ids, by which the cache is trusted).
update_anew() {
    [ -d "$run/prepared" ] || { "$WINESERVER" -w; cp -a "$WINEPREFIX" "$run/prepared"; }
    end_prefix
    rm -rf "$WINEPREFIX"
    cp -a "$run/prepared" "$WINEPREFIX"
    start_update
}
# check WHEN: once the machine has started again while a resume service is
# left (five times at most), a whole application and nothing to resume.
check() {
    n=0
    while [ $n = 0 ] || { service_left && [ $n -lt 5 ]; }; do
        n=$((n + 1))
        next_start "$1"
    done
    step WholeApplication "$1" && return
    for log in "$drive"/users/*/AppData/Local/Vimo/VimoLumet/Log/*.log; do
        [ -f "$log" ] && { echo "$(basename "$log"):"; tr -d '\r' <"$log"; }
    done
}

step Prepare && case $scenario in
removals)
    start_update
    wait_for '[ "$(installer_logs)" -ge 3 ]'
    lose_power
    next_start
    step FinishedAfterTheRestart
    ;;
install-twice | cut-short | temp-emptied)
    : >"$drive/lumet-block"
    start_update
    wait_for '[ -s "$drive/lumet-blocked" ]'
    if [ "$scenario" = install-twice ]; then
        step ResumeServiceStands "during the install"
        lose_power
        # The next start resumes the update, whose install is held again.
        rm -f "$drive/lumet-blocked"
        "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null &
        wait_for '[ -s "$drive/lumet-blocked" ]'
        step ResumeServiceStands "during the resumed install"
    fi
    lose_power
    rm -f "$drive/lumet-block"
    if [ "$scenario" = cut-short ]; then
        set -- "$drive"/ProgramData/LumetUpdate/Runs/*/Package/slow.msi
        [ $# = 1 ] && [ -f "$1" ] && truncate -s $(($(stat -c %s "$1") / 2)) "$1" ||
            fail "package copies found to cut short: $*"
    elif [ "$scenario" = temp-emptied ]; then
        # The system's and every user's, as a clean-up tool would.
        for temp in "$drive/windows/temp" "$drive"/users/*/Temp "$drive"/users/*/AppData/Local/Temp; do
            [ -d "$temp" ] && echo "emptied ${temp#"$drive/"}: $(find "$temp" -mindepth 1 -delete -print | wc -l) entries"
        done
    fi
    next_start
    if [ "$scenario" = cut-short ]; then step RestoredAfterTheRestart; else step FinishedAfterTheRestart; fi
    ;;
sweep-update)
    # Instants measured on a whole update of the same prepared prefix: a third
    # and two thirds of the way to its first installer run (check, copy,
    # record, service); as the first, middle, last but one (the installed
    # release's removal) and last (the install) installer runs begin; and
    # quarters of the way from the last one to the updater's end.
    update_anew
    updater=$!
    begin=$(now_ms)
    runs=0
    first=0
    last=$begin
    while kill -0 $updater 2>/dev/null; do
        logs=$(installer_logs)
        if [ "$logs" -gt $runs ]; then
            [ $runs -gt 0 ] || first=$(($(now_ms) - begin))
            runs=$logs
            last=$(now_ms)
        fi
        sleep 0.02
    done
    wait $updater
    code=$?
    last=$(($(now_ms) - last))
    echo "a whole update: $(($(now_ms) - begin)) ms, exit code $code, $runs installer runs," \
        "the first $first ms after its start, the last $last ms before its end"
    [ $code = 0 ] && [ $runs -ge 2 ] || fail "not a whole update"
    for at in before-1 before-2 run-1 run-$((runs / 2)) run-$((runs - 1)) run-$runs after-1 after-2 after-3 after-4; do
        update_anew
        case $at in
        before-*)
            sleep_ms $((first * ${at#before-} / 3))
            at="$((first * ${at#before-} / 3)) ms into the update"
            ;;
        run-*)
            wait_for '[ "$(installer_logs)" -ge ${at#run-} ]'
            at="as installer run ${at#run-} of $runs begins"
            ;;
        after-*)
            wait_for '[ "$(installer_logs)" -ge $runs ]'
            sleep_ms $((last * ${at#after-} / 4))
            at="$((last * ${at#after-} / 4)) ms after installer run $runs began"
            ;;
        esac
        power_lost "$at"
        check "$at"
    done
    ;;
sweep-resumed)
    # Lost during the removals, then again at instants of the resumed update
    # from when its process is seen: 0.1, 0.3, 0.6 and 1 s, quarters of the
    # rest, and 0.1 s before its end, as measured (and checked) first.
    resumed=""
    for at in whole 100 300 600 1000 later-1 later-2 later-3 end; do
        update_anew
        wait_for '[ "$(installer_logs)" -ge 3 ]'
        lose_power
        guid=$(basename "$drive"/ProgramData/LumetUpdate/Runs/*)
        # pgrep takes a pattern: the GUID's inside, without its braces.
        process="/resume .${guid#?}"
        process=${process%?}
        case $at in
        later-*) at=$((1000 + (${resumed:-0} - 1000) * ${at#later-} / 4)) ;;
        end) at=$((${resumed:-0} - 100)) ;;
        esac
        [ "$at" = whole ] || [ "$at" -gt 0 ] || { fail "no whole resumed update measured"; break; }
        "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null &
        wait_for 'pgrep -f -- "$process" >/dev/null' || break
        begin=$(now_ms)
        if [ "$at" = whole ]; then
            wait_for '! pgrep -f -- "$process" >/dev/null'
            resumed=$(($(now_ms) - begin))
            echo "=== the resumed update of $guid, not cut short: $resumed ms"
            timeout 180 "$WINESERVER" -w
        else
            sleep_ms $((at - ($(now_ms) - begin)))
            power_lost "again $at ms into the resumed update of $guid"
        fi
        check "$at ms into the resumed update"
    done
    ;;
*)
    fail "no such scenario: $scenario"
    ;;
esac
end_run
exit $status
