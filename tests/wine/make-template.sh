#!/bin/sh
# Builds, once per build folder, the sandboxed Wine prefix that every test run
# copies. Usage: make-template.sh TEMPLATE_DIR
set -eu

template=$1
new_prefix=$(cd "$(dirname "$0")/../../scripts/lib" && pwd)/new-prefix.sh

mkdir -p "$(dirname "$template")"
exec 9>"$template.lock"
flock 9

# The template is made again when the way it is made changes.
stamp=$(cksum <"$new_prefix")
[ "$(cat "$template/ready" 2>/dev/null)" = "$stamp" ] && exit 0

rm -rf "$template"
unset DISPLAY WAYLAND_DISPLAY
sh "$new_prefix" "$template/prefix" "$template/home" --null-display
echo "$stamp" >"$template/ready"
