#!/bin/sh
# Builds the packages and programs of the package-check tests from the
# end-to-end packages (make-packages.sh) and the stand-in application: Windows
# Installer packages that keep files outside, cut short or are no packages at
# all, and packages and programs signed with a throwaway hierarchy of
# certificates (sign.sh).
# The updater itself, signed by the publisher, for the end-to-end tests.
# Usage: make-check-packages.sh OUT_DIR E2E_PACKAGES_DIR FAKE_APP_EXE UPDATER_EXE
set -eu

out=$1
packages=$2
app=$3
updater=$4
sign=$(cd "$(dirname "$0")/../../scripts/lib" && pwd)/sign.sh
command -v osslsigncode >/dev/null || { echo "make-check-packages: osslsigncode is missing (apt-get install osslsigncode)" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out/certs"
cp "$packages/new.msi" "$packages/external.msi" "$packages/installed-stripped.msi" "$out/"
cp "$app" "$out/app.exe"

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

# A publisher's certification authority issuing the publisher's
# certificate, its renewal (a new key, the same subject), another publisher's,
# and one whose subject differs in one attribute; a forged authority of the
# user's own making issuing a certificate with the publisher's exact subject;
# another authority that issues another party a certificate of that subject;
# and one with the publisher's authority's exact name but a key of its own.
sh "$sign" ca "$out/certs/ca" "/CN=Vimo Test Publisher CA/O=Vimo/C=DE"
sh "$sign" ca "$out/certs/twin-ca" "/CN=Vimo Test Publisher CA/O=Vimo/C=DE"
sh "$sign" ca "$out/certs/forged-ca" "/CN=Vimo Test Root/O=Vimo/C=DE"
sh "$sign" ca "$out/certs/other-ca" "/CN=Other Code Signing CA/O=Other Trust/C=US"
sh "$sign" cert "$out/certs/publisher" "/CN=Vimo Test Publisher/O=Vimo/C=DE" "$out/certs/ca"
sh "$sign" cert "$out/certs/renewed" "/CN=Vimo Test Publisher/O=Vimo/C=DE" "$out/certs/ca"
sh "$sign" cert "$out/certs/other" "/CN=Other Publisher/O=Other/C=DE" "$out/certs/ca"
sh "$sign" cert "$out/certs/near" "/CN=Vimo Test Publisher/O=Vimo Other/C=DE" "$out/certs/ca"
sh "$sign" cert "$out/certs/forged" "/CN=Vimo Test Publisher/O=Vimo/C=DE" "$out/certs/forged-ca"
sh "$sign" cert "$out/certs/impostor" "/CN=Vimo Test Publisher/O=Vimo/C=DE" "$out/certs/other-ca"
sh "$sign" cert "$out/certs/twin" "/CN=Vimo Test Publisher/O=Vimo/C=DE" "$out/certs/twin-ca"
for ca in ca forged-ca other-ca twin-ca; do cp "$out/certs/$ca/cert.der" "$out/$ca.der"; done
for cert in publisher renewed other near forged impostor twin; do
    sh "$sign" sign "$out/certs/$cert" "$out/new.msi" "$out/$cert.msi"
    sh "$sign" sign "$out/certs/$cert" "$out/app.exe" "$out/$cert.exe"
done
sh "$sign" sign "$out/certs/publisher" "$updater" "$out/updater-publisher.exe"
# Releases of the publisher that are not the next one: an older release of
# the product, and another product.
sh "$sign" sign "$out/certs/publisher" "$packages/old.msi" "$out/old.msi"
sh "$sign" sign "$out/certs/publisher" "$packages/other.msi" "$out/foreign.msi"
# The installed release, of the publisher, whole and cut short: candidates
# for the way back.
sh "$sign" sign "$out/certs/publisher" "$packages/installed.msi" "$out/installed.msi"
head -c $(($(stat -c %s "$out/installed.msi") - 511)) "$out/installed.msi" > "$out/installed-short.msi"

# The signed program with 8 bytes added inside its certificate table (the
# entry's length and the table's size grown with them): the signature still
# verifies, since its digest skips the table.
python3 - "$out/publisher.exe" "$out/appended.exe" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
pe = struct.unpack_from('<I', data, 0x3C)[0]
optional = pe + 24
directories = optional + (112 if struct.unpack_from('<H', data, optional)[0] == 0x20B else 96)
offset, size = struct.unpack_from('<II', data, directories + 4 * 8)
assert offset + size == len(data)
struct.pack_into('<I', data, directories + 4 * 8 + 4, size + 8)
struct.pack_into('<I', data, offset, struct.unpack_from('<I', data, offset)[0] + 8)
open(sys.argv[2], 'wb').write(bytes(data) + b'unsigned')
PY
# The same 8 bytes after the certificate table, which stays as signed.
{ cat "$out/publisher.exe"; printf unsigned; } > "$out/trailing.exe"

# One byte of the signed program's code changed.
cp "$out/publisher.exe" "$out/tampered.exe"
text=$(x86_64-w64-mingw32-objdump -h "$out/tampered.exe" | awk '$2 == ".text" { print $6; exit }')
offset=$((0x$text + 512))
byte=$(od -An -tu1 -j "$offset" -N1 "$out/tampered.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$out/tampered.exe" bs=1 seek="$offset" conv=notrunc 2>/dev/null
cmp -s "$out/publisher.exe" "$out/tampered.exe" && { echo "make-check-packages: tampering changed nothing" >&2; exit 1; }
echo ready > "$out/ready"
