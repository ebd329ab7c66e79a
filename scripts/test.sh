#!/bin/sh
# Set-up, build and every test: LumetUpdate.exe and the test programs are
# cross-compiled for 64-bit Windows and run under Wine, each test program in a
# fresh throwaway prefix of its own.
# Environment: LUMET_BUILD_DIR (default: build), CTEST_PARALLEL_LEVEL (default 2).
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh

build=${LUMET_BUILD_DIR:-build}
cmake --no-warn-unused-cli -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "${CTEST_PARALLEL_LEVEL:-2}"
