#include "support/launcher_process_win.h"

#include "base/constants.h"
#include "support/game_folder_win.h"
#include "support/test_env_win.h"
#include "support/wait_until.h"

HWND threadLauncherWindow(DWORD threadId) {
    HWND found = nullptr;
    EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM result) CALLBACK -> BOOL {
            wchar_t className[128] = {};
            GetClassNameW(window, className, 128);
            if (WString(className) != kInstanceMutexName) return TRUE;
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

WString builtLauncherPath() {
    return winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/VarnholdLauncher.exe");
}

LauncherProcess::LauncherProcess(const WString& folder) : home(folder) {
    exe = folder + L"\\VarnholdLauncher.exe";
    const WString built = builtLauncherPath();
    copyOk = makeFolders(folder) && CopyFileW(built.c_str(), exe.c_str(), FALSE);
}

LauncherProcess::~LauncherProcess() {
    if (child && WaitForSingleObject(child.process.get(), 0) != WAIT_OBJECT_0) {
        TerminateProcess(child.process.get(), 1);
        WaitForSingleObject(child.process.get(), 10000);
    }
}

bool LauncherProcess::start(const WString& tail) {
    WString commandLine = L"\"" + exe + L"\"";
    if (!tail.empty()) commandLine += L" " + tail;
    const size_t cut = home.find_last_of(L'\\');
    child = startChild(exe, commandLine, ChildOptions(cut == WString::npos ? home : home.substr(0, cut)));
    return static_cast<bool>(child);
}

HWND LauncherProcess::waitForWindow(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (HWND found = threadLauncherWindow(child.threadId)) {
            if (IsWindowVisible(found)) return mainWindow = found;
        }
        if (WaitForSingleObject(child.process.get(), 10) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

std::optional<DWORD> LauncherProcess::waitForExit(int timeoutMs) {
    if (!child || WaitForSingleObject(child.process.get(), static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    return code;
}

bool LauncherProcess::close(int timeoutMs) {
    if (!child) return true;
    if (mainWindow && IsWindow(mainWindow)) PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    if (waitForExit(timeoutMs)) return true;
    TerminateProcess(child.process.get(), 1);
    WaitForSingleObject(child.process.get(), 10000);
    return false;
}

BrowserStandIn::BrowserStandIn(const WString& logPath) : log(logPath) {
    DeleteFileW(log.c_str());
    const WString command =
        L"\"" + winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/record_url.exe") +
        L"\" --log \"" + log + L"\" \"%1\"";
    ok = true;
    // Left in place afterwards: the prefix then never starts a real browser from a test.
    for (const wchar_t* scheme : {L"http", L"https"}) {
        const WString key = WString(scheme) + L"\\shell\\open\\command";
        ok = ok &&
             RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, command.c_str(),
                             static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
}

std::vector<std::string> BrowserStandIn::opened() const {
    std::vector<std::string> lines;
    const auto text = readFileBytes(log);
    if (!text) return lines;
    size_t start = 0;
    for (size_t end; (end = text->find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text->substr(start, end - start));
    }
    return lines;
}

bool BrowserStandIn::waitForCount(size_t count, int timeoutMs) const {
    return waitUntil([&] { return opened().size() >= count; }, timeoutMs);
}

std::vector<HWND> allLauncherWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM list) CALLBACK -> BOOL {
            wchar_t className[128] = {};
            GetClassNameW(window, className, 128);
            if (WString(className) == kInstanceMutexName)
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND findLauncherWindow() { return FindWindowW(kInstanceMutexName, nullptr); }

bool noLauncherWindowLeft(int timeoutMs) {
    return waitUntil([] { return findLauncherWindow() == nullptr; }, timeoutMs);
}
