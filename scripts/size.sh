#!/bin/sh
# The shipping exe as a user gets it: its size, the DLLs it imports, its
# DllCharacteristics (the loader's hardening flags) and the debug link to its
# separate debug information, which must still turn an address into a line.
# Fails when the exe is over 304 KB or imports anything but Windows system DLLs.
# Usage: ./scripts/size.sh [EXE]   (default: build/src/LumetUpdate.exe)
set -eu
cd "$(dirname "$0")/.."
exe=${1:-${LUMET_BUILD_DIR:-build}/src/LumetUpdate.exe}
tools=x86_64-w64-mingw32
limit=311296
[ -f "$exe" ] || { echo "size: no exe at $exe; build it first (./scripts/test.sh)" >&2; exit 1; }

status=0
bytes=$(stat -c %s "$exe")
printf 'exe:     %s\nsize:    %s bytes (%s KB; limit %s KB)\n' "$exe" "$bytes" $(( (bytes + 1023) / 1024 )) $((limit / 1024))
[ "$bytes" -le "$limit" ] || { echo "size: over the limit" >&2; status=1; }

echo "imports:"
for dll in $($tools-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    case $(echo "$dll" | tr 'A-Z' 'a-z') in
        kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|shlwapi.dll|ole32.dll|oleaut32.dll|comctl32.dll|msvcrt.dll|ntdll.dll)
            echo "  $dll" ;;
        *) echo "  $dll   <- not a Windows system DLL"; status=1 ;;
    esac
done

flags=$($tools-objdump -p "$exe" | awk '/^DllCharacteristics/ { print $2 }')
names=""
for bit in 0020:HIGH_ENTROPY_VA 0040:DYNAMIC_BASE 0080:FORCE_INTEGRITY 0100:NX_COMPAT 0400:NO_SEH \
           4000:GUARD_CF 8000:TERMINAL_SERVER_AWARE; do
    [ $(( 0x$flags & 0x${bit%%:*} )) -ne 0 ] && names="$names ${bit#*:}"
done
echo "DllCharacteristics: 0x$flags ($names )"

# The link holds the file name, NUL padding and a checksum.
link=$($tools-objcopy --dump-section .gnu_debuglink=/dev/stdout "$exe" 2>/dev/null | head -c 256 | tr '\0' '\n' | head -n 1)
debug=$(dirname "$exe")/$link
if [ -n "$link" ] && [ -f "$debug" ]; then
    address=$($tools-nm "$debug" | awk '$3 == "wWinMain" { print $1 }')
    echo "debug link: $debug; wWinMain at 0x$address is $($tools-addr2line -e "$debug" "0x$address")"
else
    echo "debug link: missing (\"$link\")"
    status=1
fi
exit $status
