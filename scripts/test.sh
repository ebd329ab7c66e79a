#!/bin/sh
# Set-up, the layer check, formatting, both builds, static analysis and every
# test.
#
# The shipping build (Clang 19 + lld 19) goes to build/; a second build with
# GCC 12 goes to build-gcc/. Both build warning-free with warnings as errors,
# and the whole test suite runs on each: every test program under Wine in a
# fresh throwaway prefix of its own. clang-tidy checks src/ through the Clang
# build's compile database; clang-format checks src/ and tests/.
# Environment: LUMET_BUILD_DIR (default build), LUMET_GCC_BUILD_DIR (default
# build-gcc), CTEST_PARALLEL_LEVEL (default 2).
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh

step() { printf '\n=== %s\n' "$*"; }
jobs=${CTEST_PARALLEL_LEVEL:-2}

. scripts/lib/configure.sh

step "Layers: every include in src/ goes to a lower floor"
./scripts/check-layers.sh

step "Names: no struct named like a class"
./scripts/check-names.sh

step "Formatting (clang-format-19)"
find src tests -name '*.cpp' -o -name '*.h' | sort | xargs clang-format-19 --dry-run -Werror
echo "clean"

build=${LUMET_BUILD_DIR:-build}
step "Shipping build: Clang 19 + lld 19 in $build"
configure "$build" cmake/mingw-w64-x86_64-clang.cmake -DLUMET_WARNINGS_AS_ERRORS=ON
cmake --build "$build"
./scripts/size.sh "$build/src/LumetUpdate.exe"

step "Static analysis (clang-tidy-19) of src/"
run-clang-tidy-19 -p "$build" -j "$jobs" -quiet "$(pwd)/src/.*\.cpp" >"$build/clang-tidy.log" 2>&1 ||
    { cat "$build/clang-tidy.log"; exit 1; }
echo "clean"

step "Test properties of the end-to-end cases"
./scripts/check-test-properties.sh "$build"

step "Tests on the Clang build"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

build_gcc=${LUMET_GCC_BUILD_DIR:-build-gcc}
step "Second build: GCC 12 in $build_gcc"
configure "$build_gcc" cmake/mingw-w64-x86_64.cmake -DLUMET_WARNINGS_AS_ERRORS=ON
cmake --build "$build_gcc"

step "Tests on the GCC build"
ctest --test-dir "$build_gcc" --output-on-failure -j "$jobs"
