// Entry point of VarnholdLauncher.exe.
#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <cwchar>
#include <exception>

#include "app/uninstall_win.h"
#include "base/paths_win.h"
#include "ui/launcher_app_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    // The whole tail, exactly: an outside uninstaller's call. Nothing else runs in this mode: no
    // window, no settings, no instance rule.
    if (commandLine && std::wcscmp(commandLine, L"-uninstall") == 0) {
        runUninstall(launcherFolder());
        return 0;
    }

    (void)CoInitialize(nullptr);
    Gdiplus::GdiplusStartupInput startupInput;
    ULONG_PTR gdiplusToken = 0;
    (void)Gdiplus::GdiplusStartup(&gdiplusToken, &startupInput, nullptr);

    try {
        // Never deleted: the process ends without tearing the application down member by member.
        auto* app = new LauncherApp(instance, showCommand);
        MSG message;
        while (app->running && GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (app->pendingError) std::rethrow_exception(app->pendingError);
        }
    } catch (const std::exception& error) {
        MessageBoxA(nullptr, error.what(), "Error!", MB_OK);
    }
    Gdiplus::GdiplusShutdown(gdiplusToken);
    return 0;
}
