#!/bin/sh
# Installs what building and testing LumetUpdate needs on Debian 12, when it is
# missing. Safe to run again: installed packages are left alone.
set -eu

packages="cmake ninja-build g++-mingw-w64-x86-64-posix clang-19 lld-19 clang-format-19 clang-tidy-19 googletest wine64 msitools wixl osslsigncode openssl python3 xvfb x11-utils imagemagick util-linux"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "setup: installing$missing"
if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
else
    echo "setup: missing packages$missing, and neither root nor sudo to install them" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
