#!/bin/sh
# How long Wine's msiexec takes here for the runs the updater makes: one
# install of a release (/i ... INSTALLDIR=... /qn /lv), one removal (/X<code>
# /quiet /lv), one removal of a product that is not installed, side by side in
# one prefix with a bare Wine process start (cmd /c exit) as the yardstick.
# Prints the median of each and its ratio to the yardstick.
# Usage: ./scripts/bench-msiexec.sh [ROUNDS]   (default 7; needs a built tree: ./scripts/test.sh)
set -eu
cd "$(dirname "$0")/.."
rounds=${1:-7}
build=${LUMET_BUILD_DIR:-build}
packages=$build/tests/e2e-packages
[ -f "$packages/installed.msi" ] || { echo "bench: no packages in $packages; run ./scripts/test.sh first" >&2; exit 1; }

. scripts/lib/bench.sh
bench_prefix "$build"

pkg="Z:$(cd "$packages" && pwd | tr / '\\')\\installed.msi"
code=$(tr -d '\r\n' <"$packages/installed.code")

: >"$run/start"; : >"$run/install"; : >"$run/remove"; : >"$run/unknown"
i=0
while [ $i -lt "$rounds" ]; do
    seconds "$WINE" cmd /c exit >>"$run/start"
    seconds "$WINE" msiexec /i "$pkg" 'INSTALLDIR=C:\Bench\Vimo\' /qn /lv 'C:\bench-i.log' >>"$run/install"
    seconds "$WINE" msiexec "/X$code" /quiet /lv 'C:\bench-x.log' >>"$run/remove"
    seconds "$WINE" msiexec '/X{00000000-0000-4000-8000-000000000000}' /quiet /lv 'C:\bench-u.log' >>"$run/unknown"
    i=$((i + 1))
done

base=$(median <"$run/start")
printf '%-34s %8s %8s\n' "median of $rounds rounds" seconds ratio
for name in start install remove unknown; do
    m=$(median <"$run/$name")
    case $name in
        start) label="bare Wine process (yardstick)" ;;
        install) label="msiexec /i (install a release)" ;;
        remove) label="msiexec /X (remove it)" ;;
        unknown) label="msiexec /X (not installed)" ;;
    esac
    printf '%-34s %8s %8s\n' "$label" "$m" "$(awk -v m="$m" -v b="$base" 'BEGIN { printf "%.1f", m / b }')"
done
