// Stands in for a freshly published launcher in the self-update tests. It reads what to do from
// stand_in_mode.txt in its own folder and appends what it did to events.log there:
//   healthy     sets the update-healthy event after a moment, as a launcher whose window came up,
//               and goes on running for a few seconds
//   exits       ends at once with exit code 1, before any window, never signalling
//   silent MS   neither signals nor ends for MS milliseconds, then ends without signalling
//   unstartable puts a file that is no program in the backup's place (the backup itself moves to
//               "runner.moved"), then ends like "exits": the restored launcher cannot be started
// The backup is left alone, so that the tests see what the old launcher did with it.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "base/constants.h"
#include "base/handles_win.h"
#include "base/paths_win.h"
#include "config/text_convert.h"

namespace {

constexpr DWORD kHealthyAfterMs = 300;
constexpr DWORD kHealthyRunMs = 3000;

void logLine(const std::string& line) {
    const WString path = launcherFolder() + L"\\events.log";
    UniqueKernelHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string bytes = line + "\n";
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string readMode() {
    const WString path = launcherFolder() + L"\\stand_in_mode.txt";
    UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[64] = {};
    DWORD got = 0;
    if (!file || !ReadFile(file.get(), buffer, sizeof buffer - 1, &got, nullptr)) return {};
    return std::string(buffer, got);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring arguments;
    for (int i = 1; i < argc; ++i) arguments += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
    const std::string mode = readMode();
    logLine("stand-in " + mode + " " + wideToUtf8(arguments));

    if (mode.rfind("healthy", 0) == 0) {
        Sleep(kHealthyAfterMs);
        UniqueKernelHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, kUpdateHealthyEventName));
        logLine(event && SetEvent(event.get()) ? "signalled" : "no event to signal");
        Sleep(kHealthyRunMs);
        logLine("healthy ended");
        return 0;
    }
    if (mode.rfind("silent", 0) == 0) {
        Sleep(static_cast<DWORD>(std::strtoul(mode.c_str() + 6, nullptr, 10)));
        logLine("silent ended");
        return 0;
    }
    if (mode.rfind("unstartable", 0) == 0) {
        const WString backup = launcherFolder() + L"\\old_launcher.bak";
        const bool moved = MoveFileW(backup.c_str(), (launcherFolder() + L"\\runner.moved").c_str()) != FALSE;
        UniqueKernelHandle file(CreateFileW(backup.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        const char text[] = "this is not a program\n";
        DWORD written = 0;
        const bool replaced = file && WriteFile(file.get(), text, sizeof text - 1, &written, nullptr);
        logLine(moved && replaced ? "backup made unstartable" : "backup unchanged");
    }
    return 1;
}
