#!/bin/sh
# Builds, once per build folder, the sandboxed Wine prefix that every test run
# copies. Usage: make-template.sh TEMPLATE_DIR
set -eu

template=$1
here=$(cd "$(dirname "$0")" && pwd)

mkdir -p "$(dirname "$template")"
exec 9>"$template.lock"
flock 9

# The template is made again when the way it is made changes.
stamp=$(cksum <"$here/new-prefix.sh")
[ "$(cat "$template/ready" 2>/dev/null)" = "$stamp" ] && exit 0

rm -rf "$template"
unset DISPLAY WAYLAND_DISPLAY
"$here/new-prefix.sh" "$template/prefix" "$template/home" --null-display
echo "$stamp" >"$template/ready"
