# What the benchmarks share; sourced from the repository's root.

# bench_start PROGRAM [ROUNDS]: the build's benchmark program PROGRAM
# (bench/), which must have been built, into $bench; the rounds into
# $rounds (default 5); a throwaway prefix as bench_prefix makes it.
bench_start() {
    rounds=${2:-5}
    build=${LUMET_BUILD_DIR:-build}
    bench=$build/bench/$1.exe
    [ -f "$bench" ] || { echo "bench: no $bench; run ./scripts/test.sh first" >&2; exit 1; }
    bench_prefix "$build"
    drive=$WINEPREFIX/drive_c
}

# bench_prefix BUILD_DIR: a throwaway copy of the build's sandboxed test prefix
# in $run/prefix, made the current one (WINEPREFIX), its wineserver started
# outside the timings, and ended with the copy removed when the script ends.
bench_prefix() {
    WINE=${WINE:-/usr/lib/wine/wine64}
    WINESERVER=${WINESERVER:-$(dirname "$WINE")/wineserver}
    export WINE WINESERVER
    sh tests/wine/make-template.sh "$1/wine/template"
    mkdir -p "$1/wine/runs"
    run=$(cd "$(mktemp -d "$1/wine/runs/bench.XXXXXX")" && pwd)
    cp -a "$1/wine/template/prefix" "$run/prefix"
    export WINEPREFIX="$run/prefix" HOME="$run" WINEDEBUG=-all
    trap '"$WINESERVER" -k 2>/dev/null || true; rm -rf "$run"' EXIT
    "$WINE" cmd /c exit >/dev/null 2>&1 || true
}

# seconds COMMAND...: wall time of one run, in seconds with milliseconds.
seconds() {
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s%N)
    echo "$(( (t1 - t0) / 1000000 ))" | awk '{ printf "%.3f\n", $1 / 1000 }'
}

# median: the median of the numbers on standard input, one a line.
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
