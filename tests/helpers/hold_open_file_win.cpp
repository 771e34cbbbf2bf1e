// Stands in for another program that keeps a file open: opens it with the requested access and
// sharing, sets the named "ready" event, and keeps the file open until the named "release" event
// is set (or 120 s pass). Exits with 1 when the file or an event cannot be opened, before "ready".
// usage: hold_open_file.exe PATH ACCESS SHARING READY_EVENT RELEASE_EVENT
//   ACCESS   r, w or rw
//   SHARING  any of r, w, d (read, write, delete sharing), or - for none
#include <windows.h>

#include <string>

#include "base/handles_win.h"

namespace {

constexpr DWORD kLongestHoldMs = 120000;

DWORD accessFrom(const std::wstring& text) {
    DWORD access = 0;
    if (text.find(L'r') != std::wstring::npos) access |= GENERIC_READ;
    if (text.find(L'w') != std::wstring::npos) access |= GENERIC_WRITE;
    return access;
}

DWORD sharingFrom(const std::wstring& text) {
    DWORD sharing = 0;
    if (text.find(L'r') != std::wstring::npos) sharing |= FILE_SHARE_READ;
    if (text.find(L'w') != std::wstring::npos) sharing |= FILE_SHARE_WRITE;
    if (text.find(L'd') != std::wstring::npos) sharing |= FILE_SHARE_DELETE;
    return sharing;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) return 2;
    UniqueKernelHandle file(CreateFileW(argv[1], accessFrom(argv[2]), sharingFrom(argv[3]), nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    UniqueKernelHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[4]));
    UniqueKernelHandle release(OpenEventW(SYNCHRONIZE, FALSE, argv[5]));
    if (!ready || !release) return 1;
    SetEvent(ready.get());
    WaitForSingleObject(release.get(), kLongestHoldMs);
    return 0;
}
