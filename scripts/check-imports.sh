#!/usr/bin/env bash
# Fails when a Windows executable imports a DLL that Windows itself does not provide
# (libstdc++, libgcc, winpthread or zlib DLLs would have to ship beside it).
set -euo pipefail
allowed='^(kernel32|user32|gdi32|gdiplus|winhttp|bcrypt|crypt32|version|shell32|ole32|oleaut32|shlwapi|advapi32|msvcrt|comctl32|comdlg32|ws2_32|ntdll)\.dll$'
status=0
for exe in "$@"; do
    # The 64-bit objdump reads 32-bit executables too.
    mapfile -t dlls < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
    for dll in "${dlls[@]}"; do
        if [[ ! "$dll" =~ $allowed ]]; then
            echo "$exe imports $dll, which is not a Windows system DLL"
            status=1
        fi
    done
    ((status == 0)) && echo "$(basename "$exe"): imports only Windows DLLs (${dlls[*]})"
done
exit $status
