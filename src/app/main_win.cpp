// Entry point of VarnholdLauncher.exe. Until the main window is built this shows a placeholder
// window with the product title and ends when it is closed.
#include <windows.h>

#include <cwchar>

#include "app/uninstall_win.h"
#include "base/constants.h"
#include "base/paths_win.h"
#include "config/settings_win.h"

namespace {

LRESULT CALLBACK placeholderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    // The whole tail, exactly: an outside uninstaller's call. Nothing else runs in this mode: no
    // window, no settings, no instance rule.
    if (commandLine && std::wcscmp(commandLine, L"-uninstall") == 0) {
        runUninstall(launcherFolder());
        return 0;
    }

    loadSettings();

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = placeholderProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kInstanceMutexName;
    if (!RegisterClassExW(&windowClass)) return 0;

    HWND window = CreateWindowExW(0, kInstanceMutexName, kProductTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 640, 400, nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    ShowWindow(window, showCommand);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
