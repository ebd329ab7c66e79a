#!/bin/sh
# How long the updater's check of a package takes before anything is removed
# (the package copied through handles into the run's own folder, opened and
# checked as a Windows Installer package, its signature verified against the
# updater's own), for a signed package of about 100 MB and a signed updater,
# side by side with a bare `cmd /c copy` of the same file in the same Wine
# prefix; they take turns going first. The same check by an unsigned copy of
# the program, which checks no signer, shows what the signature check adds.
# Prints the median of each and the ratios.
# Usage: ./scripts/bench-package.sh [ROUNDS]   (default 5; needs a built tree: ./scripts/test.sh)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib/bench.sh
bench_start lumet_bench_package "${1:-5}"

# A release of about 100 MB of incompressible data, and a publisher that
# signs it and the checking program.
work=$run/package
mkdir -p "$work"
head -c 104857600 /dev/urandom >"$work/payload.bin"
. scripts/lib/wxs.sh
(cd "$work" && code="{C0DE0100-5A7E-4C1D-9B2A-000000000100}" name="Vimo Lumet" version=4.0.0.0 \
    upgrade="{C0DE0101-5A7E-4C1D-9B2A-000000000101}" salt=256 dir=Vimo subdir="" wxs_package payload.bin) >"$work/big.wxs"
(cd "$work" && wixl -a x86 -o big.msi big.wxs)
sh scripts/lib/sign.sh cert "$work/publisher" "/CN=Vimo Bench Publisher/O=Vimo/C=DE"
sh scripts/lib/sign.sh sign "$work/publisher" "$work/big.msi" "$drive/big.msi"
sh scripts/lib/sign.sh sign "$work/publisher" "$bench" "$drive/check.exe"
cp "$bench" "$drive/unsigned.exe"
echo "package: $(stat -c %s "$drive/big.msi") bytes, signed; checking program signed by the same publisher"

# The check must pass, or its time means nothing.
"$WINE" 'C:\check.exe' 'C:\big.msi' >/dev/null 2>&1 || { echo "bench: the check refused the package ($?)" >&2; exit 1; }
rm -rf "$drive/windows/temp/"LumetUpdate-*

check() { seconds "$WINE" 'C:\check.exe' 'C:\big.msi' >>"$run/check"; rm -rf "$drive/windows/temp/"LumetUpdate-*; }
unsigned() { seconds "$WINE" 'C:\unsigned.exe' 'C:\big.msi' >>"$run/unsigned"; rm -rf "$drive/windows/temp/"LumetUpdate-*; }
copy() { seconds "$WINE" cmd /c copy /y 'C:\big.msi' 'C:\copy.msi' >>"$run/copy"; rm -f "$drive/copy.msi"; }

: >"$run/check"; : >"$run/copy"; : >"$run/unsigned"
i=0
while [ $i -lt "$rounds" ]; do
    if [ $((i % 2)) -eq 0 ]; then check; copy; unsigned; else unsigned; copy; check; fi
    i=$((i + 1))
done

k=$(median <"$run/check")
c=$(median <"$run/copy")
u=$(median <"$run/unsigned")
printf '%-48s %8s\n' "median of $rounds rounds, $(($(stat -c %s "$drive/big.msi") / 1048576)) MB signed package" seconds
printf '%-48s %8s\n' "cmd /c copy" "$c"
printf '%-48s %8s\n' "the updater's check and copy (PreparePackage)" "$k"
printf '%-48s %8s\n' "the same, unsigned: no signer checked" "$u"
printf '%-48s %8s\n' "ratio, check to copy" "$(awk -v k="$k" -v c="$c" 'BEGIN { printf "%.2fx", k / c }')"
printf '%-48s %8s\n' "ratio, unsigned check to copy" "$(awk -v u="$u" -v c="$c" 'BEGIN { printf "%.2fx", u / c }')"
