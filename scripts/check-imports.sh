#!/usr/bin/env bash
# Two checks of what the program depends on:
#  - includes point one way through the layers of src/ (base -> config, crypto, net -> update,
#    content -> branches -> ui -> app): a file may include its own folder or a lower layer, never a
#    sibling or a layer above;
#  - each Windows executable given imports only DLLs that Windows itself provides (libstdc++,
#    libgcc, winpthread or zlib DLLs would have to ship beside it).
# Usage: scripts/check-imports.sh [EXE...]
set -euo pipefail
cd "$(dirname "$0")/.."
status=0

declare -A layer=([base]=0 [config]=1 [crypto]=1 [net]=1 [update]=2 [content]=2 [branches]=3 [ui]=4 [app]=5)
while IFS= read -r line; do
    file=${line%%:*}
    own=$(cut -d/ -f2 <<<"$file")
    target=$(sed -n 's/.*#include "\([a-z_]*\)\/.*/\1/p' <<<"${line#*:}")
    [[ -z "$target" || "$target" == "$own" ]] && continue
    if [[ -z "${layer[$own]:-}" || -z "${layer[$target]:-}" ]] || ((layer[$target] >= layer[$own])); then
        echo "$file includes $target/, which is not below src/$own: ${line#*:}"
        status=1
    fi
done < <(grep -rn --include='*.h' --include='*.cpp' '^#include "[a-z_]*/' src | sed 's/:[0-9]*:/:/')
((status == 0)) && echo "src/: every include points down the layers"

allowed='^(kernel32|user32|gdi32|gdiplus|winhttp|bcrypt|crypt32|version|shell32|ole32|oleaut32|shlwapi|advapi32|msvcrt|comctl32|comdlg32|ws2_32|ntdll)\.dll$'
for exe in "$@"; do
    # The 64-bit objdump reads 32-bit executables too.
    mapfile -t dlls < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
    bad=0
    for dll in "${dlls[@]}"; do
        if [[ ! "$dll" =~ $allowed ]]; then
            echo "$exe imports $dll, which is not a Windows system DLL"
            bad=1
        fi
    done
    ((bad == 0)) && echo "$(basename "$exe"): imports only Windows DLLs (${dlls[*]})"
    ((bad == 0)) || status=1
done
exit $status
