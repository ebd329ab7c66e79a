#!/bin/sh
# Power losses during an update: every process of a fresh Wine prefix ended at
# once (wineserver -k) while the updater works, then the prefix started again,
# as Windows starts again, which runs the updater's RunOnce value before the
# first program. Steps of the machine's state are cases of the steps program,
# run one at a time in the same prefix.
# Usage: power-loss.sh SCENARIO WINE_ROOT STEPS_EXE
#   removals       lost while the earlier releases are removed
#   install-twice  lost during the install, and again during the resumed install
#   cut-short      lost during the install, and the package's copy cut short
#                  before the next start: the installed release comes back
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
# step NAME: one case of the steps program, which must pass.
step() {
    timeout 600 "$WINE" "$steps" --gtest_filter="PowerLoss.$1" >"$run/$1.txt" 2>&1 </dev/null
    cat "$run/$1.txt"
    grep -q '^\[  PASSED  \] 1 test' "$run/$1.txt" || fail "step $1 did not pass"
}
# wait_for CONDITION: two minutes at most.
wait_for() {
    i=0
    until eval "$1"; do
        i=$((i + 1))
        [ $i -le 1200 ] || { fail "$scenario: never came: $1"; return 1; }
        sleep 0.1
    done
}
installer_logs() { ls "$drive"/users/*/Temp/VimoLog/VimoLumet*.log 2>/dev/null | wc -l; }
# Every process of the prefix ends at once.
lose_power() { "$WINESERVER" -k; "$WINESERVER" -w; }

step Prepare
if [ $status -eq 0 ]; then
    package='C:\Temp\slow.msi'
    [ "$scenario" = removals ] && package='C:\Temp\new.msi'
    [ "$scenario" = removals ] || : >"$drive/lumet-block"
    "$WINE" 'C:\Tools\LumetUpdate.exe' "$package" >/dev/null 2>&1 </dev/null &
    if [ "$scenario" = removals ]; then
        wait_for '[ "$(installer_logs)" -ge 3 ]'
    else
        wait_for '[ -s "$drive/lumet-blocked" ]'
    fi
    lose_power
    case $scenario in
    install-twice)
        # The next start resumes the update, whose install is held again.
        rm -f "$drive/lumet-blocked"
        "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null &
        wait_for '[ -s "$drive/lumet-blocked" ]'
        lose_power
        rm -f "$drive/lumet-block"
        ;;
    cut-short)
        rm -f "$drive/lumet-block"
        for copy in "$drive"/windows/temp/LumetUpdate-*/Package/slow.msi; do
            truncate -s $(($(stat -c %s "$copy") / 2)) "$copy"
        done
        ;;
    esac
    # The next start: the RunOnce value runs before this first program.
    if [ "$scenario" = cut-short ]; then step RestoredAfterTheRestart; else step FinishedAfterTheRestart; fi
fi
end_run
exit $status
