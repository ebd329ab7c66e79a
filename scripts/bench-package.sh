#!/bin/sh
# How long the updater takes to prepare an update before anything is removed,
# for signed packages of about 100 MB and a signed updater whose publisher's
# certification authority the machine trusts, side by side with bare copies
# of the same files in the same Wine prefix (they take turns going first):
# - the check of the new package (copied through handles into the run's own
#   folder and hashed, its signature and chain judged against the updater's
#   own, opened and checked as a Windows Installer package) against one
#   `cmd /c copy` of it; an unsigned copy of the program, which checks no
#   signer, shows what the signature check adds;
# - the whole preparation with a restore package (the new package's check,
#   then the installed release's package found, copied and checked) against
#   `cmd /c copy` of both files.
# - the SHA-256 of the new package by the program's own hashing (with the
#   processor's SHA instructions) against the system's (CNG), which it falls
#   back to.
# Prints the median of each and the ratios.
# Usage: ./scripts/bench-package.sh [ROUNDS]   (default 5; needs a built tree: ./scripts/test.sh)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib/bench.sh
bench_start lumet_bench_package "${1:-5}"
. scripts/lib/wxs.sh

# Two releases of about 100 MB of incompressible data each, of one product
# line, signed by a publisher whose authority the machine trusts; the older
# one installed from its own folder, which stays its install source.
work=$run/package
mkdir -p "$work"
head -c 104857600 /dev/urandom >"$work/payload.bin"
upgrade="{C0DE0101-5A7E-4C1D-9B2A-000000000101}"
installed_code="{C0DE0103-5A7E-4C1D-9B2A-000000000103}"
(cd "$work" && code="$installed_code" name="Vimo Lumet" version=3.0.0.0 upgrade=$upgrade salt=255 dir=Vimo subdir="" \
    wxs_package payload.bin) >"$work/installed.wxs"
(cd "$work" && code="{C0DE0100-5A7E-4C1D-9B2A-000000000100}" name="Vimo Lumet" version=4.0.0.0 upgrade=$upgrade salt=256 \
    dir=Vimo subdir="" wxs_package payload.bin) >"$work/big.wxs"
(cd "$work" && wixl -a x86 -o installed.msi installed.wxs && wixl -a x86 -o big.msi big.wxs)
sh scripts/lib/sign.sh ca "$work/ca" "/CN=Vimo Bench CA/O=Vimo/C=DE"
sh scripts/lib/sign.sh cert "$work/publisher" "/CN=Vimo Bench Publisher/O=Vimo/C=DE" "$work/ca"
mkdir -p "$drive/source"
sh scripts/lib/sign.sh sign "$work/publisher" "$work/big.msi" "$drive/big.msi"
sh scripts/lib/sign.sh sign "$work/publisher" "$work/installed.msi" "$drive/source/installed.msi"
sh scripts/lib/sign.sh sign "$work/publisher" "$bench" "$drive/check.exe"
cp "$bench" "$drive/unsigned.exe"
sh scripts/lib/sign.sh root "$work/ca" | {
    read -r key blob
    "$WINE" reg add "$key" /v Blob /t REG_BINARY /d "$blob" /f >/dev/null 2>&1
}
"$WINE" msiexec /i 'C:\source\installed.msi' /qn >/dev/null 2>&1
echo "packages: $(stat -c %s "$drive/big.msi") and $(stat -c %s "$drive/source/installed.msi") bytes, signed;" \
    "the older one installed; checking program signed by the same publisher"

# Each must pass, or its time means nothing.
"$WINE" 'C:\check.exe' 'C:\big.msi' >/dev/null 2>&1 || { echo "bench: the check refused the package ($?)" >&2; exit 1; }
"$WINE" 'C:\check.exe' 'C:\big.msi' "$installed_code" >/dev/null 2>&1 ||
    { echo "bench: the preparation with a restore package failed ($?)" >&2; exit 1; }
rm -rf "$drive/ProgramData/LumetUpdate"

clean() { rm -rf "$drive/ProgramData/LumetUpdate" "$drive/copy.msi" "$drive/copy2.msi"; }
check() { seconds "$WINE" 'C:\check.exe' 'C:\big.msi' >>"$run/check"; clean; }
unsigned() { seconds "$WINE" 'C:\unsigned.exe' 'C:\big.msi' >>"$run/unsigned"; clean; }
copy() { seconds "$WINE" cmd /c copy /y 'C:\big.msi' 'C:\copy.msi' >>"$run/copy"; clean; }
prepare() { seconds "$WINE" 'C:\check.exe' 'C:\big.msi' "$installed_code" >>"$run/prepare"; clean; }
copies() {
    seconds "$WINE" cmd /c 'copy /y C:\big.msi C:\copy.msi && copy /y C:\source\installed.msi C:\copy2.msi' >>"$run/copies"
    clean
}

own() { seconds "$WINE" 'C:\check.exe' /hash 'C:\big.msi' own >>"$run/own"; }
system() { seconds "$WINE" 'C:\check.exe' /hash 'C:\big.msi' system >>"$run/system"; }

for f in check copy unsigned prepare copies own system; do : >"$run/$f"; done
i=0
while [ $i -lt "$rounds" ]; do
    if [ $((i % 2)) -eq 0 ]; then
        check; copy; unsigned; prepare; copies; own; system
    else
        system; own; copies; prepare; unsigned; copy; check
    fi
    i=$((i + 1))
done

k=$(median <"$run/check")
c=$(median <"$run/copy")
u=$(median <"$run/unsigned")
p=$(median <"$run/prepare")
cc=$(median <"$run/copies")
ho=$(median <"$run/own")
hs=$(median <"$run/system")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx", a / b }'; }
printf '%-56s %8s\n' "median of $rounds rounds, two 100 MB signed packages" seconds
printf '%-56s %8s\n' "cmd /c copy of the new package" "$c"
printf '%-56s %8s\n' "the updater's check and copy (PreparePackage)" "$k"
printf '%-56s %8s\n' "the same, unsigned: no signer checked" "$u"
printf '%-56s %8s\n' "cmd /c copy of both packages" "$cc"
printf '%-56s %8s\n' "the preparation with a restore package" "$p"
printf '%-56s %8s\n' "ratio, check to copy" "$(ratio "$k" "$c")"
printf '%-56s %8s\n' "ratio, unsigned check to copy" "$(ratio "$u" "$c")"
printf '%-56s %8s\n' "ratio, preparation with restore package to both copies" "$(ratio "$p" "$cc")"
printf '%-56s %8s\n' "SHA-256 of the new package, the program's own" "$ho"
printf '%-56s %8s\n' "SHA-256 of the new package, the system's (CNG)" "$hs"
printf '%-56s %8s\n' "ratio, the system's hashing to the program's own" "$(ratio "$hs" "$ho")"
