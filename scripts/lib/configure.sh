# configure BUILD_DIR TOOLCHAIN_FILE [CMAKE_ARGS...]: configures a build folder
# with Ninja; one made earlier with another toolchain is configured afresh.
# Sourced by the scripts from the repository's root.
configure() {
    dir=$1
    toolchain=$(pwd)/$2
    shift 2
    if [ -f "$dir/CMakeCache.txt" ] && ! grep -qx "CMAKE_TOOLCHAIN_FILE:[A-Z]*=$toolchain" "$dir/CMakeCache.txt"; then
        rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    fi
    cmake --no-warn-unused-cli -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" "$@" >/dev/null
}
