#!/bin/sh
# Builds the packages and programs of the package-check tests from the
# end-to-end packages (make-packages.sh) and the stand-in application: Windows
# Installer packages that keep files outside, cut short or are no packages at
# all, and packages and programs signed with throwaway certificates (a
# publisher, its renewed certificate with the same subject, another
# publisher, one whose subject differs in one attribute).
# The updater itself, signed by the publisher, for the end-to-end tests.
# Usage: make-check-packages.sh OUT_DIR E2E_PACKAGES_DIR FAKE_APP_EXE SIGNER_EXE UPDATER_EXE
set -eu

out=$1
packages=$2
app=$3
signer=$4
updater=$5
sign=$(cd "$(dirname "$0")/../../scripts/lib" && pwd)/sign.sh
command -v osslsigncode >/dev/null || { echo "make-check-packages: osslsigncode is missing (apt-get install osslsigncode)" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out/certs"
cp "$packages/new.msi" "$packages/external.msi" "$out/"
cp "$app" "$out/app.exe"
cp "$signer" "$out/signer.exe"

# Files the package neither holds in a cabinet nor as a stream of its own.
cp "$out/new.msi" "$out/uncompressed.msi"
msibuild "$out/uncompressed.msi" -q "UPDATE File SET Attributes=8192"
cp "$out/new.msi" "$out/nested.msi"
msibuild "$out/nested.msi" -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('Nested', 23, 'other.msi', '')"
cp "$out/new.msi" "$out/missing-cab.msi"
msibuild "$out/missing-cab.msi" -q "UPDATE Media SET Cabinet='#gone.cab'"
# The cabinet is a stream of the package, but the Media table sends the
# installer to a file of that name beside it.
cp "$out/new.msi" "$out/unmarked-cab.msi"
msibuild "$out/unmarked-cab.msi" -q "UPDATE Media SET Cabinet='app.cab'"

# Cut short, and no package at all.
size=$(stat -c %s "$out/new.msi")
head -c $((size / 2)) "$out/new.msi" > "$out/half.msi"
head -c $((size - 511)) "$out/new.msi" > "$out/short.msi"
echo "no package" > "$out/text.msi"
cp "$app" "$out/program.msi"

sh "$sign" cert "$out/certs/publisher" "/CN=Vimo Test Publisher/O=Vimo/C=DE"
sh "$sign" cert "$out/certs/renewed" "/CN=Vimo Test Publisher/O=Vimo/C=DE"
sh "$sign" cert "$out/certs/other" "/CN=Other Publisher/O=Other/C=DE"
sh "$sign" cert "$out/certs/near" "/CN=Vimo Test Publisher/O=Vimo Other/C=DE"
for cert in publisher renewed other near; do
    sh "$sign" sign "$out/certs/$cert" "$out/new.msi" "$out/$cert.msi"
    sh "$sign" sign "$out/certs/$cert" "$out/app.exe" "$out/$cert.exe"
done
sh "$sign" sign "$out/certs/publisher" "$signer" "$out/signer-publisher.exe"
sh "$sign" sign "$out/certs/other" "$signer" "$out/signer-other.exe"
sh "$sign" sign "$out/certs/publisher" "$updater" "$out/updater-publisher.exe"

# One byte of the signed program's code changed.
cp "$out/publisher.exe" "$out/tampered.exe"
text=$(x86_64-w64-mingw32-objdump -h "$out/tampered.exe" | awk '$2 == ".text" { print $6; exit }')
offset=$((0x$text + 512))
byte=$(od -An -tu1 -j "$offset" -N1 "$out/tampered.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$out/tampered.exe" bs=1 seek="$offset" conv=notrunc 2>/dev/null
cmp -s "$out/publisher.exe" "$out/tampered.exe" && { echo "make-check-packages: tampering changed nothing" >&2; exit 1; }
echo ready > "$out/ready"
