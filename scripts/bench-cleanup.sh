#!/bin/sh
# How fast the updater empties a data folder of 20,000 files in 1,000 folders
# (100 folders of 9 sub-folders, 20 files of 1 KB in each), side by side with
# cmd's "rmdir /s /q" on an identical tree in the same Wine prefix; the two
# take turns going first. Prints the median of each and the ratio.
# Usage: ./scripts/bench-cleanup.sh [ROUNDS]   (default 5; needs a built tree: ./scripts/test.sh)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib/bench.sh
bench_start lumet_bench_cleanup "${1:-5}"
cp "$bench" "$drive/bench.exe"

master=$run/master
for d in $(seq -w 0 99); do
    for s in "" /s1 /s2 /s3 /s4 /s5 /s6 /s7 /s8 /s9; do
        mkdir -p "$master/d$d$s"
        for f in $(seq -w 1 20); do printf '%1024s' '' >"$master/d$d$s/f$f.dat"; done
    done
done

program() { seconds "$WINE" 'C:\bench.exe' 'C:\tree-a' >>"$run/program"; }
rmdir_s() { seconds "$WINE" cmd /c rmdir /s /q 'C:\tree-b' >>"$run/rmdir"; }

: >"$run/program"; : >"$run/rmdir"
i=0
while [ $i -lt "$rounds" ]; do
    cp -a "$master" "$drive/tree-a"
    cp -a "$master" "$drive/tree-b"
    if [ $((i % 2)) -eq 0 ]; then program; rmdir_s; else rmdir_s; program; fi
    # Both must have emptied their tree, or the timings mean nothing.
    if [ -n "$(find "$drive/tree-a" -mindepth 1 | head -n 1)" ] || [ -e "$drive/tree-b" ]; then
        echo "bench: a tree was not emptied in round $((i + 1))" >&2
        exit 1
    fi
    rm -rf "$drive/tree-a"
    i=$((i + 1))
done

p=$(median <"$run/program")
r=$(median <"$run/rmdir")
printf '%-44s %8s\n' "median of $rounds rounds, 20,000 files" seconds
printf '%-44s %8s\n' "cmd /c rmdir /s /q" "$r"
printf '%-44s %8s\n' "the updater's removal (DeleteFolderContents)" "$p"
printf '%-44s %8s\n' "ratio, updater to rmdir" "$(awk -v p="$p" -v r="$r" 'BEGIN { printf "%.2fx", p / r }')"
