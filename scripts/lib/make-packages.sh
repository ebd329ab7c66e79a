#!/bin/sh
# Builds the Windows Installer packages of the end-to-end tests and the demo
# with wixl: the eight earlier releases named in the program's own Products
# document, the release that is installed before the update, and the new
# release. Both of the latter carry the stand-in application as
# VimoLumet\VimoLumet.exe below INSTALLDIR, record the product code in the
# maker's installer key and their install folder in the uninstall entry. Also
# the new release asking for a restart, failing, or held while it installs,
# both releases as the Windows Installer caches them, another product's
# package, an older release, and the new release with its cabinet outside the
# package, which cannot install.
# Usage: make-packages.sh OUT_DIR FAKE_APP_EXE PRODUCTS_XML
set -eu

out=$1
app=$2
products=$3

mkdir -p "$out/src"
work=$out/src
cp "$app" "$work/VimoLumet.exe"

. "$(dirname "$0")/wxs.sh"

# Product codes of the two releases that the update replaces and installs,
# and the upgrade code of the product line they both belong to.
INSTALLED_CODE="{C0DE0001-5A7E-4C1D-9B2A-000000000001}"
NEW_CODE="{C0DE0002-5A7E-4C1D-9B2A-000000000002}"
LUMET_UPGRADE=$(guid 77 1)

build() { # build NAME (reads NAME.wxs in the work folder)
    (cd "$work" && wixl -a x86 -o "../$1.msi" "$1.wxs")
}

# release NAME CODE VERSION MARKER_FILE SALT [UPGRADE_CODE [PRODUCT_NAME]]: a
# release of the application, VimoLumet\VimoLumet.exe and its marker file
# below INSTALLDIR.
release() {
    echo "$1 release" > "$work/$4"
    (cd "$work" && code=$2 name=${7:-Vimo Lumet} version=$3 upgrade=${6:-$LUMET_UPGRADE} salt=$5 dir=Vimo \
        subdir=VimoLumet release=yes wxs_package VimoLumet.exe "$4") > "$work/$1.wxs"
    build "$1"
    release_fix "$out/$1.msi"
}
release installed "$INSTALLED_CODE" 3.1.0.0 OLD_RELEASE.txt 1
release new "$NEW_CODE" 4.0.0.0 NEW_RELEASE.txt 2
# A release older than the installed one.
release old "{C0DE0004-5A7E-4C1D-9B2A-000000000004}" 2.0.0.0 OLDER_RELEASE.txt 4

# The new release asking for a restart when it is installed (its installer
# then exits with 3010).
cp "$out/new.msi" "$out/reboot.msi"
msibuild "$out/reboot.msi" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('ScheduleReboot', 6650)"

# The new release whose install fails (a custom action that returns an
# error: msiexec ends with 1603 and rolls back), and one whose install is held
# in a custom action (the stand-in application, installed with it, run with
# /block) while C:\lumet-block exists.
cp "$out/new.msi" "$out/fail.msi"
msibuild "$out/fail.msi" -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('FailHere', 19, '', 'The install fails here')"
msibuild "$out/fail.msi" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('FailHere', 4100)"
cp "$out/new.msi" "$out/slow.msi"
msibuild "$out/slow.msi" -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('HoldHere', 1042, 'F1', '/block')"
msibuild "$out/slow.msi" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('HoldHere', 4050)"

# The installed and the new release as Windows caches them: without their
# cabinets, which then cannot install.
for release in installed new; do
    cp "$out/$release.msi" "$out/$release-stripped.msi"
    msibuild "$out/$release-stripped.msi" -q "DELETE FROM \`_Streams\` WHERE \`Name\`='app.cab'"
done

# Another product's package, which installs a program of its own at the
# application's place: what a user might put where the new release was.
release other "{C0DE0003-5A7E-4C1D-9B2A-000000000003}" 9.0.0.0 OTHER_RELEASE.txt 3 "$(guid 77 3)" "Other Product"

# The new release with its cabinet kept beside the package (EmbedCab="no"):
# its Media table names "app.cab" without the '#' that marks a stream of the
# package. wixl writes no such cabinet at all, so the package cannot install
# anywhere; the package checks must refuse it before anything is removed.
sed 's/Cabinet="app.cab" EmbedCab="yes"/Cabinet="app.cab" EmbedCab="no"/' "$work/new.wxs" > "$work/external.wxs"
grep -q 'EmbedCab="no"' "$work/external.wxs"
build external

# One package per Product element of the program's own document, in order.
index=0
sed -n 's/.*<Product Name="\([^"]*\)">\([^<]*\)<\/Product>.*/\1|\2/p' "$products" | tr -d '\r' |
while IFS='|' read -r name code; do
    echo "earlier release $index" > "$work/earlier-$index.txt"
    (cd "$work" && code=$code name=$name version=1.0.$index.0 upgrade=$(guid 78 "$index") salt=$((100 + index)) \
        dir="Vimo Earlier $index" subdir="" wxs_package "earlier-$index.txt") > "$work/earlier-$index.wxs"
    build "earlier-$index"
    index=$((index + 1))
done

printf '%s\n' "$INSTALLED_CODE" > "$out/installed.code"
ls "$out"/earlier-7.msi >/dev/null
