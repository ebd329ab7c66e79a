# The WiX source of the Windows Installer packages that the tests, the demo
# and the benchmarks build with wixl; sourced from the repository's scripts.

# A GUID made from a number and a salt, so that builds are repeatable.
guid() { printf '{%08X-0000-4000-8000-%012X}' "$1" "$2"; }

# wxs_package FILE...: prints a package that installs the files (names in the
# current folder, compressed into one embedded cabinet) into
# ProgramFilesFolder\$dir, or into $dir\$subdir when $subdir is set, with the
# product code $code, the name $name, the version $version and the upgrade
# code $upgrade; its components' GUIDs are made from $salt. INSTALLDIR is the
# $dir level. With release=yes it also records the product code in the
# maker's installer key and the install folder in the uninstall entry (a
# property set in sequence; wixl writes that custom action with the wrong
# type, which the caller fixes with msibuild: release_fix).
wxs_package() {
    cat <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$code" Name="$name" Language="1033" Version="$version" Manufacturer="Vimo" UpgradeCode="$upgrade">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="app.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="$dir">
WXS
    [ -n "${subdir:-}" ] && echo "          <Directory Id=\"APPDIR\" Name=\"$subdir\">"
    n=0
    for file in "$@"; do
        n=$((n + 1))
        echo "            <Component Id=\"C$n\" Guid=\"$(guid "$n" "$salt")\">"
        echo "              <File Id=\"F$n\" Name=\"$file\" Source=\"$file\" KeyPath=\"yes\"/>"
        echo "            </Component>"
    done
    if [ "${release:-}" = yes ]; then
        n=$((n + 1))
        cat <<WXS
            <Component Id="C$n" Guid="$(guid "$n" "$salt")">
              <RegistryValue Root="HKLM" Key="SOFTWARE\\Vimo\\Vimo 2020\\Installer\\Applications\\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}" Name="ProductCode" Type="string" Value="[ProductCode]" KeyPath="yes"/>
            </Component>
WXS
    fi
    [ -n "${subdir:-}" ] && echo "          </Directory>"
    echo "        </Directory>"
    echo "      </Directory>"
    echo "    </Directory>"
    if [ "${release:-}" = yes ]; then
        cat <<WXS
    <CustomAction Id="SetArpInstallLocation" Property="ARPINSTALLLOCATION" Value="[INSTALLDIR]"/>
    <InstallExecuteSequence>
      <Custom Action="SetArpInstallLocation" Sequence="1001"/>
    </InstallExecuteSequence>
WXS
    fi
    echo "    <Feature Id=\"Main\" Level=\"1\">"
    i=0
    while [ $i -lt $n ]; do i=$((i + 1)); echo "      <ComponentRef Id=\"C$i\"/>"; done
    echo "    </Feature>"
    echo "  </Product>"
    echo "</Wix>"
}

# release_fix MSI: the type-51 custom action (set a property) that wixl cannot
# write itself.
release_fix() { msibuild "$1" -q "UPDATE CustomAction SET Type=51 WHERE Action='SetArpInstallLocation'"; }
