#!/bin/sh
# The program is built in floors, each using only the floors below it:
#   win < log < resources < installer, cleanup < app
# (installer and cleanup stand side by side and do not use each other). Fails
# on an include in src/ of a header from a higher floor, or from the floor
# beside; the libraries in src/CMakeLists.txt link in the same order.
# Usage: ./scripts/check-layers.sh
set -eu
cd "$(dirname "$0")/.."

rank() {
    case $1 in
        win) echo 1 ;; log) echo 2 ;; resources) echo 3 ;; installer|cleanup) echo 4 ;; app) echo 5 ;;
        *) echo 0 ;;
    esac
}

status=0
for file in $(find src -name '*.cpp' -o -name '*.h' | sort); do
    floor=$(echo "$file" | cut -d/ -f2)
    own=$(rank "$floor")
    [ "$own" -gt 0 ] || { echo "layers: $file is on no floor"; status=1; continue; }
    for used in $(sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)/.*|\1|p' "$file" | sort -u); do
        [ "$used" = "$floor" ] && continue
        other=$(rank "$used")
        if [ "$other" -eq 0 ] || [ "$other" -ge "$own" ]; then
            echo "layers: $file ($floor) includes a header of $used"
            status=1
        fi
    done
done
[ $status -eq 0 ] && echo "layers: every include goes down"
exit $status
