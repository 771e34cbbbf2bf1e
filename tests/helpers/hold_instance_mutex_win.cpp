// Stands in for a launcher that holds the instance mutex without a window (one that hangs before
// its window exists, or is ending): creates the mutex as its owner, sets the named "ready" event,
// and holds it until the named "release" event is set (or 120 s pass). Then it exits, which leaves
// the mutex abandoned, as a killed launcher would. Exits with 1 when the mutex or an event cannot
// be opened, before "ready".
// With WINDOW_AFTER_MS it makes a hidden window of the launcher's class at "ready" and shows it
// minimised that long after, as a launcher does whose first frame is slow to prepare; with "denied"
// the mutex lets no other process open it, as one made by an elevated launcher denies a normal one;
// with "hidden-newer" a second window of the class is made once the first shows, and stays hidden,
// as the new launcher's during a self-update (the newest window comes first among the windows).
// usage: hold_instance_mutex.exe READY_EVENT RELEASE_EVENT [WINDOW_AFTER_MS [denied|hidden-newer]]
#include <windows.h>

#include <sddl.h>

#include <cwchar>
#include <string>

#include "base/constants.h"
#include "base/handles_win.h"

namespace {

UniqueKernelHandle createMutex(bool denied) {
    if (!denied) return UniqueKernelHandle(CreateMutexW(nullptr, TRUE, kInstanceMutexName));
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", SDDL_REVISION_1, &raw,
                                                              nullptr)) {
        return UniqueKernelHandle();
    }
    const UniqueLocalMemory descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, raw, FALSE};
    return UniqueKernelHandle(CreateMutexW(&attributes, TRUE, kInstanceMutexName));
}

HWND createHiddenLauncherWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kInstanceMutexName;
    RegisterClassW(&windowClass);  // fails harmlessly the second time
    return CreateWindowExW(0, kInstanceMutexName, L"held", WS_POPUP | WS_MINIMIZEBOX, 0, 0, 200, 100, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 5) return 2;
    const long windowAfterMs = argc > 3 ? std::wcstol(argv[3], nullptr, 10) : -1;
    const bool denied = argc > 4 && std::wstring(argv[4]) == L"denied";
    const bool hiddenNewer = argc > 4 && std::wstring(argv[4]) == L"hidden-newer";
    UniqueKernelHandle mutex = createMutex(denied);
    if (!mutex) return 1;
    UniqueKernelHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
    UniqueKernelHandle release(OpenEventW(SYNCHRONIZE, FALSE, argv[2]));
    if (!ready || !release) return 1;
    const HWND window = windowAfterMs >= 0 ? createHiddenLauncherWindow() : nullptr;
    SetEvent(ready.get());
    const ULONGLONG started = GetTickCount64();
    bool windowShown = false;
    // Messages are answered meanwhile: another process restores the window.
    while (GetTickCount64() - started < 120000) {
        if (!windowShown && windowAfterMs >= 0 &&
            GetTickCount64() - started >= static_cast<ULONGLONG>(windowAfterMs)) {
            ShowWindow(window, SW_SHOWMINNOACTIVE);
            windowShown = true;
            if (hiddenNewer) (void)createHiddenLauncherWindow();
        }
        const HANDLE handle = release.get();
        if (MsgWaitForMultipleObjects(1, &handle, FALSE, 20, QS_ALLINPUT) == WAIT_OBJECT_0) break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    return 0;
}
