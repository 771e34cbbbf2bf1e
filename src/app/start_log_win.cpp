#include "app/start_log_win.h"

#include <windows.h>

#include <string>

#include "base/constants.h"
#include "base/run_log.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "ui/launcher_app_win.h"

namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
using WineGetVersionFunction = const char*(CDECL*)();

template <typename Function>
Function ntdllFunction(const char* name) {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(ntdll, name))) : nullptr;
}

// GetVersionExW reports what the manifest declares support for; the kernel's own call tells the
// real version and build.
std::string windowsVersion() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    const auto rtlGetVersion = ntdllFunction<RtlGetVersionFunction>("RtlGetVersion");
    if (!rtlGetVersion || rtlGetVersion(&version) != 0) return "Windows (version unknown)";
    std::string text = "Windows " + std::to_string(version.dwMajorVersion) + "." +
                       std::to_string(version.dwMinorVersion) + " build " +
                       std::to_string(version.dwBuildNumber);
    // Players also run the launcher under Wine, which says so only through this export.
    if (const auto wineVersion = ntdllFunction<WineGetVersionFunction>("wine_get_version")) {
        text += std::string(" (Wine ") + wineVersion() + ")";
    }
    return text;
}

const char* processBits() {
#ifdef _WIN64
    return "64-bit";
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? "32-bit on 64-bit Windows" : "32-bit";
#endif
}

std::string quotedFolder(const WString& folder) {
    return folder.empty() ? std::string("not set") : "\"" + wideToUtf8(folder) + "\"";
}

}  // namespace

void logLauncherStart(const wchar_t* commandTail) noexcept {
    if (!runLogActive()) return;
    try {
        logLine("start: launcher " + wideToUtf8(kLauncherVersion) + ", " + windowsVersion() + ", " +
                processBits() + ", elevated " + (processIsElevated() ? "yes" : "no") + ", command line \"" +
                wideToUtf8(commandTail) + "\"");
    } catch (...) {
    }
}

void logWindowReady(const LauncherApp& app) noexcept {
    if (!runLogActive()) return;
    try {
        const Settings& settings = appSettings();
        std::string line = "window: screen " + std::to_string(app.screenWidth) + "x" +
                           std::to_string(app.screenHeight) + ", DPI " + std::to_string(app.dpiY) +
                           ", language " + (isEnglish() ? "en" : "ru");
        for (int i = 0; i < kBranchCount; ++i) {
            line += std::string(", ") + kBranches[i].identifierUtf8 + " folder " +
                    quotedFolder(settings.branchFolders[static_cast<size_t>(i)]);
        }
        logLine(line);
    } catch (...) {
    }
}

void logFatalError(const char* message) noexcept {
    try {
        logLine(std::string("fatal error: ") + message);
    } catch (...) {
    }
}
