#!/bin/sh
# The naming rule where clang-tidy cannot read it: it checks that classes
# start with C, but does not tell a struct named like a class. Plain structs
# (data, tables of functions, traits of owners) are not named with the C of
# a class.
# Usage: ./scripts/check-names.sh
set -eu
cd "$(dirname "$0")/.."
found=$(grep -rnE '^[[:space:]]*struct[[:space:]]+C[A-Z][A-Za-z0-9]*([[:space:]]*[:{]|[[:space:]]*$)' src tests bench || true)
if [ -n "$found" ]; then
    echo "names: structs named like classes:"
    echo "$found"
    exit 1
fi
echo "names: no struct named like a class"
