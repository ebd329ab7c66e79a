#!/bin/sh
# Builds the small Windows Installer package that the installer tests install
# and remove with Wine's own msiexec.
# Usage: make-packages.sh OUTPUT_DIR
set -eu

out=$1
here=$(cd "$(dirname "$0")" && pwd)

mkdir -p "$out"
cd "$out"
rm -f LumetTestPackage.msi
printf 'Vimo Lumet test payload\r\n' >LumetTestPayload.txt
wixl -a x86 -o LumetTestPackage.msi "$here/LumetTestPackage.wxs"
