// Stands in for a freshly published launcher in the self-update tests: a release built from these
// sources whose window never comes up, or comes up. Started with -postupdate it is on trial as the
// launcher is (update/hand_over_win.h); started without, it repairs an unfinished hand-over as the
// launcher's start does, then ends. It reads what to do from stand_in_mode.txt in its own folder,
// appends what it did to events.log there and writes the run log (launcher.log) as the launcher:
//   healthy     sets the update-healthy event after a moment, as a launcher whose window came up,
//               and goes on running for a few seconds
//   exits       ends at once with exit code 1, before any code of the launcher's runs (a program
//               the loader refuses, an antivirus that kills it), never signalling
//   silent MS   neither signals nor ends for MS milliseconds, then ends without signalling
//   late MS     neither signals nor ends for MS milliseconds, then comes up (signals) and runs on
//   fatal MS    the fatal start-up path: the backup back in place, the "Error!" box for MS
//               milliseconds (then closed as by the player), and the ending of a failed trial
//   crash       an access violation under the launcher's crash handler (which writes no dump)
//   slow-dump MS  the same, with a dump that takes MS milliseconds
//   wait-kill   notes its process id and waits for the test to kill it
//   unstartable puts a file that is no program in the backup's place (the backup itself moves to
//               "runner.moved"), then ends like "exits": the restored launcher cannot be started
// The backup is otherwise left alone, so that the tests see what the old launcher did with it.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "base/constants.h"
#include "base/crash_handler_win.h"
#include "base/handles_win.h"
#include "base/paths_win.h"
#include "base/run_log.h"
#include "config/text_convert.h"
#include "update/hand_over_win.h"

namespace {

constexpr DWORD kHealthyAfterMs = 300;
constexpr DWORD kHealthyRunMs = 3000;
constexpr DWORD kKillWaitMs = 60000;

void note(const std::string& line) {
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

DWORD modeNumber(const std::string& mode, const char* name) {
    return static_cast<DWORD>(std::strtoul(mode.c_str() + std::char_traits<char>::length(name), nullptr, 10));
}

bool has(const std::string& mode, const char* name) { return mode.rfind(name, 0) == 0; }

void signalHealthy() {
    (void)passLauncherTrial(launcherFolder());
    UniqueKernelHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, kUpdateHealthyEventName));
    note(event && SetEvent(event.get()) ? "signalled" : "no event to signal");
}

// Under Wine the system's report after the launcher's handler starts a debugger that keeps the
// process; Windows ends it with the exception's code, as this does.
LONG WINAPI endWithExceptionCode(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

DWORD slowDumpMs = 0;
bool slowDump(HANDLE, EXCEPTION_POINTERS*) {
    Sleep(slowDumpMs);
    return false;
}

bool noDump(HANDLE, EXCEPTION_POINTERS*) { return false; }

[[noreturn]] void crash() {
    volatile uintptr_t address = 0;
    *reinterpret_cast<volatile int*>(address) = 1;
    std::abort();
}

// The player answers the box after a while.
void closeErrorBoxAfter(DWORD ms) {
    std::thread([ms] {
        Sleep(ms);
        for (int attempt = 0; attempt < 1000; ++attempt) {
            for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", L"Error!"));) {
                DWORD owner = 0;
                GetWindowThreadProcessId(box, &owner);
                if (owner != GetCurrentProcessId()) continue;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(10);
        }
    }).detach();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring arguments;
    for (int i = 1; i < argc; ++i) arguments += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
    const std::string mode = readMode();
    note("stand-in " + mode + " " + wideToUtf8(arguments));
    if (has(mode, "exits")) return 1;

    const WString folder = launcherFolder();
    (void)openRunLog(folder);
    if (arguments.find(L"-postupdate") == std::wstring::npos) {
        const HandOverRepair repair = repairUnfinishedHandOver(folder);
        note(repair == HandOverRepair::Restored  ? "repaired: the backup is back"
             : repair == HandOverRepair::Cleared ? "repaired: traces cleared"
                                                 : "nothing to repair");
        return 0;
    }
    SetUnhandledExceptionFilter(endWithExceptionCode);
    installCrashHandler(folder);
    beginLauncherTrial(folder);

    if (has(mode, "healthy")) {
        Sleep(kHealthyAfterMs);
        signalHealthy();
        Sleep(kHealthyRunMs);
        note("healthy ended");
        return 0;
    }
    if (has(mode, "silent") || has(mode, "late")) {
        Sleep(modeNumber(mode, has(mode, "late") ? "late" : "silent"));
        if (has(mode, "late")) {
            signalHealthy();
            Sleep(kHealthyRunMs);
        }
        note(has(mode, "late") ? "late ended" : "silent ended");
        return 0;
    }
    if (has(mode, "fatal")) {
        note(std::string("backup back before the box: ") + (rollBackLauncherTrial() ? "yes" : "no"));
        closeErrorBoxAfter(modeNumber(mode, "fatal"));
        MessageBoxA(nullptr, "No font!", "Error!", MB_OK);
        finishFailedTrial(folder);
        note("fatal ended");
        return 0;
    }
    if (has(mode, "slow-dump")) {
        slowDumpMs = modeNumber(mode, "slow-dump");
        setCrashDumpWriterForTests(slowDump);
        crash();
    }
    if (has(mode, "crash")) {
        // The dump itself is the crash handler tests' concern; here it only takes time.
        setCrashDumpWriterForTests(noDump);
        crash();
    }
    if (has(mode, "wait-kill")) {
        note("pid " + std::to_string(GetCurrentProcessId()));
        Sleep(kKillWaitMs);
        return 0;
    }
    if (has(mode, "unstartable")) {
        const WString backup = folder + L"\\old_launcher.bak";
        const bool moved = MoveFileW(backup.c_str(), (folder + L"\\runner.moved").c_str()) != FALSE;
        UniqueKernelHandle file(CreateFileW(backup.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        const char text[] = "this is not a program\n";
        DWORD written = 0;
        const bool replaced = file && WriteFile(file.get(), text, sizeof text - 1, &written, nullptr);
        note(moved && replaced ? "backup made unstartable" : "backup unchanged");
    }
    return 1;
}
