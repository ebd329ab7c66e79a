#!/bin/sh
# Power losses during an update: every process of a fresh Wine prefix ended at
# once (wineserver -k) while the updater works, then the prefix started again,
# as Windows starts again: the service manager starts the update's resume
# service as the start begins, beside the first program. Steps of the
# machine's state are cases of the steps program, run one at a time in the
# same prefix; a start that a check follows has for its first program the
# step that waits for the resumed update to end.
# Usage: power-loss.sh SCENARIO WINE_ROOT STEPS_EXE
#   removals       lost while the earlier releases are removed
#   install-twice  lost during the install, and again during the resumed install,
#                  its resume service standing each time
#   cut-short      lost during the install, and the package's copy cut short
#                  before the next start: the installed release comes back
#   temp-emptied   lost during the install, and every temporary folder emptied
#                  before the next start, as a clean-up tool would
#   sweep-update   lost at instants spread over a whole update
#   sweep-resumed  lost during the removals, then again at instants of the
#                  resumed update, densely in its first second
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
# wait_for CONDITION: looked at every 50 ms or so, two minutes at most.
wait_for() {
    i=0
    until eval "$1"; do
        i=$((i + 1))
        [ $i -le 2400 ] || { fail "$scenario: never came: $1"; return 1; }
        sleep 0.05
    done
}
# The installer runs begun so far, by their logs (an update that finds a log
# folder it did not make moves it aside, whole, and makes its own).
installer_logs() { ls "$drive"/users/*/Temp/VimoLog*/VimoLumet*.log 2>/dev/null | wc -l; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
sleep_ms() { [ "$1" -le 0 ] || sleep "$(($1 / 1000)).$(printf %03d $(($1 % 1000)))"; }
# Every process of the prefix ends at once.
lose_power() { "$WINESERVER" -k; "$WINESERVER" -w; }
# What the power loss left: how far the update had come.
show_loss() {
    echo "power lost: $(installer_logs) installer runs begun, resume service left: $(service_left && echo yes || echo no)"
}
# The machine starts again, and is over once every program it started has
# ended, the resumed update included: its registry is then on disk.
next_start() {
    step StartOfTheMachine "${1:-}"
    timeout 180 "$WINESERVER" -w || { fail "the start did not end within 3 minutes ${1:-}"; lose_power; }
}
# Whether a resume service is registered, as the registry on disk says.
service_left() { grep -qi '^\[System\\\\CurrentControlSet\\\\Services\\\\LumetUpdate-' "$WINEPREFIX/system.reg"; }
# The starts run their course: as long as a resume service is left, the
# machine starts again, five times at most (a run gives up after three).
starts() {
    n=1
    next_start "$1"
    while service_left && [ $n -lt 5 ]; do
        n=$((n + 1))
        next_start "$1"
    done
}
# The update, in the background, of the package that holds its install while
# C:\lumet-block exists.
start_update() { "$WINE" 'C:\Tools\LumetUpdate.exe' 'C:\Temp\slow.msi' >/dev/null 2>&1 </dev/null & }
# What the machine holds, for the log of a failed case.
show_machine() {
    echo "--- the update's logs"
    for log in "$drive"/users/*/AppData/Local/Vimo/VimoLumet/Log/*.log; do
        [ -f "$log" ] && { echo "$(basename "$log"):"; tr -d '\r' <"$log"; }
    done
    echo "--- the cache and the application's folder"
    find "$drive/ProgramData/LumetUpdate" "$drive/Apps" 2>/dev/null | sed "s|^$drive|C:|" | tr / '\\'
    echo "--- the update's keys and services"
    grep -i -A14 '^\[Software\\\\Vimo\\\\LumetUpdate\|^\[System\\\\CurrentControlSet\\\\Services\\\\LumetUpdate-' \
        "$WINEPREFIX/system.reg"
}
# fresh_prefix COPY: the prefix made anew from a copy of it kept in $run.
# (A copy holds no package cache: the cache is trusted by the file id that the
# update recorded, which a copy does not keep.)
fresh_prefix() {
    end_prefix
    rm -rf "$WINEPREFIX"
    cp -a "$run/$1" "$WINEPREFIX"
}
# check WHEN: a whole application and nothing to resume, once the starts have
# run their course after the power loss at WHEN.
check() {
    starts "$1"
    step WholeApplication "$1" || show_machine
}

step Prepare && case $scenario in
removals)
    start_update
    wait_for '[ "$(installer_logs)" -ge 3 ]'
    lose_power
    next_start
    step FinishedAfterTheRestart
    ;;
install-twice)
    : >"$drive/lumet-block"
    start_update
    wait_for '[ -s "$drive/lumet-blocked" ]'
    step ResumeServiceStands "during the install"
    lose_power
    # The next start resumes the update, whose install is held again.
    rm -f "$drive/lumet-blocked"
    "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null &
    wait_for '[ -s "$drive/lumet-blocked" ]'
    step ResumeServiceStands "during the resumed install"
    lose_power
    rm -f "$drive/lumet-block"
    next_start
    step FinishedAfterTheRestart
    ;;
cut-short | temp-emptied)
    : >"$drive/lumet-block"
    start_update
    wait_for '[ -s "$drive/lumet-blocked" ]'
    lose_power
    rm -f "$drive/lumet-block"
    if [ "$scenario" = cut-short ]; then
        copies=0
        for copy in "$drive"/ProgramData/LumetUpdate/Runs/*/Package/slow.msi; do
            [ -f "$copy" ] || continue
            truncate -s $(($(stat -c %s "$copy") / 2)) "$copy"
            copies=$((copies + 1))
        done
        [ $copies = 1 ] || fail "package copies found to cut short: $copies"
        next_start
        step RestoredAfterTheRestart
    else
        # The system's temporary folder and every user's, the installer's
        # logs in them included.
        for temp in "$drive/windows/temp" "$drive"/users/*/Temp "$drive"/users/*/AppData/Local/Temp; do
            [ -d "$temp" ] && echo "emptied ${temp#"$drive/"}: $(find "$temp" -mindepth 1 -delete -print | wc -l) entries"
        done
        next_start
        step FinishedAfterTheRestart
    fi
    ;;
sweep-update)
    # Instants spread over a whole update, each measured from what can be
    # seen of its progress (an update's speed varies from run to run on a
    # busy machine): a third and two thirds of the way from the updater's
    # start (the prefix's start with it) to its first installer run (the
    # package's check and copy, the restore package, the record and the
    # service); as the first, the middle one, the last but one (the installed
    # release's removal) and the last (the new release's install) of its
    # installer runs begin; and a quarter, a half, three quarters and the
    # whole of the way from that last one's beginning to the updater's end
    # (the install, the package kept, the record ended, the clean-up). The
    # ways are measured on a whole update in a copy of the same prepared
    # prefix.
    "$WINESERVER" -w
    cp -a "$WINEPREFIX" "$run/prepared"
    begin=$(now_ms)
    start_update
    updater=$!
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
    end=$(now_ms)
    echo "a whole update: $((end - begin)) ms, exit code $code, $runs installer runs," \
        "the first $first ms after its start, the last $((end - last)) ms before its end"
    [ $code = 0 ] && [ $runs -ge 2 ] || fail "not a whole update"
    last=$((end - last))
    for at in before-1 before-2 run-1 run-$((runs / 2)) run-$((runs - 1)) run-$runs after-1 after-2 after-3 after-4; do
        fresh_prefix prepared
        start_update
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
        lose_power
        echo "=== power lost $at"
        show_loss
        check "$at"
    done
    ;;
sweep-resumed)
    # The power is lost during the removals, as in "removals"; at the next
    # start it is lost again, at instants of the resumed update measured from
    # the moment its process is there: 0.1, 0.3, 0.6 and 1 s, then a quarter,
    # a half and three quarters into the rest of a whole resumed update, and
    # 0.1 s before its end. The whole resumed update is measured first (and
    # checked, as the run that was not cut short).
    "$WINESERVER" -w
    cp -a "$WINEPREFIX" "$run/prepared"
    resumed=""
    for at in whole 100 300 600 1000 later-1 later-2 later-3 end; do
        fresh_prefix prepared
        start_update
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
        if [ "$at" = whole ]; then
            echo "=== the resumed update of $guid, not cut short"
        else
            echo "=== power lost again $at ms into the resumed update of $guid"
        fi
        "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null &
        # Looked for every 20 ms or so: the instants are measured from here.
        i=0
        until pgrep -f -- "$process" >/dev/null; do
            i=$((i + 1))
            [ $i -le 3000 ] || { fail "the resumed update never started: $guid"; break; }
            sleep 0.02
        done
        begin=$(now_ms)
        if [ "$at" = whole ]; then
            wait_for '! pgrep -f -- "$process" >/dev/null'
            resumed=$(($(now_ms) - begin))
            echo "a whole resumed update: $resumed ms"
            timeout 180 "$WINESERVER" -w
        else
            sleep_ms $((at - ($(now_ms) - begin)))
            lose_power
            show_loss
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
