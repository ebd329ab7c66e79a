#!/bin/sh
# Builds the Windows Installer packages of the end-to-end tests and the demo
# with wixl: the eight earlier releases named in the program's own Products
# document, the release that is installed before the update, and the new
# release. Both of the latter carry the stand-in application as
# VimoLumet\VimoLumet.exe below INSTALLDIR, record the product code in the
# maker's installer key and their install folder in the uninstall entry. Also
# the new release asking for a restart, another product's package, and the new
# release with its cabinet outside the package, which cannot install.
# Usage: make-packages.sh OUT_DIR FAKE_APP_EXE PRODUCTS_XML
set -eu

out=$1
app=$2
products=$3

mkdir -p "$out/src"
work=$out/src
cp "$app" "$work/VimoLumet.exe"

# Product codes of the two releases that the update replaces and installs.
INSTALLED_CODE="{C0DE0001-5A7E-4C1D-9B2A-000000000001}"
NEW_CODE="{C0DE0002-5A7E-4C1D-9B2A-000000000002}"
MAKER_KEY='SOFTWARE\Vimo\Vimo 2020\Installer\Applications\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}'

# A GUID made from a number and a salt, so that builds are repeatable.
guid() { printf '{%08X-0000-4000-8000-%012X}' "$1" "$2"; }

# release_wxs CODE NAME VERSION MARKER_FILE SALT
release_wxs() {
    cat <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$1" Name="$2" Language="1033" Version="$3" Manufacturer="Vimo" UpgradeCode="$(guid 77 "$5")">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="app.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Vimo">
          <Directory Id="APPDIR" Name="VimoLumet">
            <Component Id="App" Guid="$(guid 1 "$5")">
              <File Id="AppExe" Name="VimoLumet.exe" Source="VimoLumet.exe" KeyPath="yes"/>
            </Component>
            <Component Id="Marker" Guid="$(guid 2 "$5")">
              <File Id="MarkerFile" Name="$4" Source="$4" KeyPath="yes"/>
            </Component>
            <Component Id="MakerKey" Guid="$(guid 3 "$5")">
              <RegistryValue Root="HKLM" Key="$MAKER_KEY" Name="ProductCode" Type="string" Value="[ProductCode]" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <CustomAction Id="SetArpInstallLocation" Property="ARPINSTALLLOCATION" Value="[INSTALLDIR]"/>
    <InstallExecuteSequence>
      <Custom Action="SetArpInstallLocation" Sequence="1001"/>
    </InstallExecuteSequence>
    <Feature Id="Main" Level="1">
      <ComponentRef Id="App"/>
      <ComponentRef Id="Marker"/>
      <ComponentRef Id="MakerKey"/>
    </Feature>
  </Product>
</Wix>
WXS
}

# earlier_wxs CODE NAME INDEX
earlier_wxs() {
    cat <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$1" Name="$2" Language="1033" Version="1.0.$3.0" Manufacturer="Vimo" UpgradeCode="$(guid 78 "$3")">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="earlier.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="EARLIERDIR" Name="Vimo Earlier $3">
          <Component Id="Payload" Guid="$(guid 4 "$3")">
            <File Id="PayloadFile" Name="earlier-$3.txt" Source="earlier-$3.txt" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Payload"/></Feature>
  </Product>
</Wix>
WXS
}

build() { # build NAME (reads NAME.wxs in the work folder)
    (cd "$work" && wixl -a x86 -o "../$1.msi" "$1.wxs")
}

# release NAME CODE VERSION MARKER_FILE SALT, with the type-51 custom action
# (set a property) that wixl cannot write itself.
release() {
    echo "$1 release" > "$work/$4"
    release_wxs "$2" "Vimo Lumet" "$3" "$4" "$5" > "$work/$1.wxs"
    build "$1"
    msibuild "$out/$1.msi" -q "UPDATE CustomAction SET Type=51 WHERE Action='SetArpInstallLocation'"
}
release installed "$INSTALLED_CODE" 3.1.0.0 OLD_RELEASE.txt 1
release new "$NEW_CODE" 4.0.0.0 NEW_RELEASE.txt 2

# The new release asking for a restart when it is installed (its installer
# then exits with 3010).
cp "$out/new.msi" "$out/reboot.msi"
msibuild "$out/reboot.msi" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('ScheduleReboot', 6650)"

# Another product's package, which installs a program of its own at the
# application's place: what a user might put where the new release was.
echo "other release" > "$work/OTHER_RELEASE.txt"
release_wxs "{C0DE0003-5A7E-4C1D-9B2A-000000000003}" "Other Product" 9.0.0.0 OTHER_RELEASE.txt 3 > "$work/other.wxs"
build other
msibuild "$out/other.msi" -q "UPDATE CustomAction SET Type=51 WHERE Action='SetArpInstallLocation'"

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
    earlier_wxs "$code" "$name" "$index" > "$work/earlier-$index.wxs"
    build "earlier-$index"
    index=$((index + 1))
done

printf '%s\n' "$INSTALLED_CODE" > "$out/installed.code"
ls "$out"/earlier-7.msi >/dev/null
