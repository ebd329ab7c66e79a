#!/bin/sh
# The updater for real, in a demo Windows environment under Wine.
#
# Usage: ./scripts/demo.sh [--package FILE | --fail | --power-loss] [--prefix DIR]
#   --package FILE  the package to install: a Windows Installer package (.msi)
#                   or an installer program; default: the built-in demo release
#   --fail          the built-in release, made to fail as it installs: watch
#                   the installed release come back from its restore package
#   --power-loss    the built-in release, held as it installs while the demo
#                   machine loses power (every process ends at once), then the
#                   machine started again: watch the update resume and finish
#   --prefix DIR    the Wine prefix to run in. A folder that does not exist yet
#                   is created and prepared like the built-in demo machine; an
#                   existing prefix is used as it is. Default: a fresh demo
#                   prefix in build/demo, made anew on every run.
#
# On a fresh Debian 12 it installs what it needs, builds LumetUpdate.exe,
# prepares a machine with Vimo Lumet installed (an earlier release, two listed
# older releases, leftovers in the data folder, the per-user key, a desktop
# shortcut), runs LumetUpdate.exe with the package in a window (under Xvfb
# when there is no display, saving a screenshot) and shows what changed.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

package=""
prefix_dir=""
mode=""
while [ $# -gt 0 ]; do
    case $1 in
        --package) [ $# -ge 2 ] || { echo "demo: --package needs a file" >&2; exit 2; }; package=$2; shift 2 ;;
        --fail|--power-loss) mode=${1#--}; shift ;;
        --prefix) [ $# -ge 2 ] || { echo "demo: --prefix needs a folder" >&2; exit 2; }; prefix_dir=$2; shift 2 ;;
        -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
        *) echo "demo: unknown argument: $1 (see --help)" >&2; exit 2 ;;
    esac
done

step() { printf '\n=== %s\n' "$*"; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

if [ -n "$package" ]; then
    [ -f "$package" ] || fail "no such package: $package"
    package=$(cd "$(dirname "$package")" && pwd)/$(basename "$package")
fi

step "Set-up: packages this demo needs"
./scripts/setup.sh || fail "could not install the packages the demo needs"

build=${LUMET_BUILD_DIR:-build}
step "Build: LumetUpdate.exe and the demo release"
. scripts/lib/configure.sh
configure "$build" cmake/mingw-w64-x86_64-clang.cmake \
    || fail "cmake could not configure the build (see above)"
cmake --build "$build" --target LumetUpdate lumet_fake_app || fail "the build failed (see above)"
demo=$root/$build/demo
mkdir -p "$demo"
sh scripts/lib/make-packages.sh "$demo/packages" "$build/tests/lumet_fake_app.exe" src/resources/Products.xml \
    >"$demo/packages.log" 2>&1 || { cat "$demo/packages.log" >&2; fail "wixl could not build the demo packages"; }
echo "LumetUpdate.exe: $build/src/LumetUpdate.exe"
echo "demo packages:   $demo/packages"

WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-$(dirname "$WINE")/wineserver}
export WINE WINESERVER

prepare=yes
if [ -z "$prefix_dir" ]; then
    prefix_dir=$demo/machine
    rm -rf "$prefix_dir"
elif [ -d "$prefix_dir/drive_c" ]; then
    prepare=no
    prefix_dir=$(cd "$prefix_dir" && pwd)
fi

if [ "$prepare" = yes ]; then
    step "Machine: a new sandboxed Wine prefix in $prefix_dir"
    mkdir -p "$prefix_dir"
    prefix_dir=$(cd "$prefix_dir" && pwd)
    sh scripts/lib/new-prefix.sh "$prefix_dir" "$demo/home" || fail "could not create a Wine prefix"
fi

export WINEPREFIX="$prefix_dir" WINEDEBUG=-all
home=$demo/home
mkdir -p "$home"
export HOME="$home"
# Whatever happens, no Wine process of this prefix outlives the demo.
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT INT TERM

. scripts/lib/demo-machine.sh

if [ "$prepare" = yes ]; then
    step "Machine: Vimo Lumet 3.1 installed, two older releases, leftovers"
    prepare_machine "$demo/packages" || fail "could not prepare the demo machine"
fi

case $mode in
fail)
    package=$demo/packages/fail.msi
    echo "package: the built-in demo release Vimo Lumet 4.0, whose install fails ($package)" ;;
power-loss)
    package=$demo/packages/slow.msi
    # The release's own custom action holds its install while this exists.
    : >"$prefix_dir/drive_c/lumet-block"
    echo "package: the built-in demo release Vimo Lumet 4.0, held as it installs ($package)" ;;
*)
    if [ -z "$package" ]; then
        package=$demo/packages/new.msi
        echo "package: the built-in demo release Vimo Lumet 4.0 ($package)"
    fi ;;
esac
mkdir -p "$prefix_dir/drive_c/Temp"
cp "$package" "$prefix_dir/drive_c/Temp/"
win_package="C:\\Temp\\$(basename "$package")"

step "Before the update"
show_machine

step "Running: LumetUpdate.exe \"$win_package\""
start=$(date +%s)
LUMET_DEMO_POWER_LOSS=$([ "$mode" = power-loss ] && echo 1 || true)
export LUMET_DEMO_POWER_LOSS
run_updater "$root/$build/src/LumetUpdate.exe" "$win_package" "$demo/screenshot.png" ||
    fail "the updater did not end (see above)"
echo "the updater ended by itself after $(( $(date +%s) - start )) s"
[ -f "$demo/screenshot.png" ] && echo "screenshot of its window: $demo/screenshot.png"

step "After the update"
show_machine
show_run_results
