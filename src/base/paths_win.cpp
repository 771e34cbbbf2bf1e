#include "base/paths_win.h"

#include <windows.h>

#include <vector>

#include "base/paths.h"

WString modulePath() {
    // GetModuleFileNameW truncates silently when the buffer is too small and then returns the
    // buffer size, so grow until the returned length fits with room to spare.
    constexpr DWORD kGrowStep = 260;
    std::vector<wchar_t> buffer(kGrowStep);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length < size) return WString(buffer.data(), length);
        buffer.resize(buffer.size() + kGrowStep);
    }
}

WString launcherFolder() { return folderOfPath(modulePath()); }
