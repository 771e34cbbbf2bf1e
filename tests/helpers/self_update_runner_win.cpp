// Stands in for the running launcher in the self-update tests. Copied into a scratch launcher
// folder, it calls selfUpdate against the test server, so its own executable is the one that is
// renamed aside, replaced and perhaps restored. Every start appends a line to events.log in its
// folder; a start after a rollback (with "-ignoreinstances" alone) only logs and exits.
// As in the launcher, selfUpdate runs on a worker thread while the main thread stays alive; a
// static object logs "static clean-up" when it is destroyed, which an ending self-update must not
// cause: the launcher's window thread would still be drawing.
// usage: self_update_runner.exe BRANCH_BASE_URL LAUNCHER_CHECKSUM HAND_OVER_WAIT_MS
// Exit codes: 0 the process was ended by the self-update (or a logged restart), 3 selfUpdate
// returned false, 2 wrong arguments.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "base/handles_win.h"
#include "base/paths_win.h"
#include "config/text_convert.h"
#include "net/http_client_win.h"
#include "update/self_update_win.h"
#include "update/update_engine.h"

namespace {

void logLine(const std::wstring& line) {
    const WString path = launcherFolder() + L"\\events.log";
    UniqueKernelHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string bytes = wideToUtf8(line) + "\n";
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

struct CleanUpWitness {
    ~CleanUpWitness() { logLine(L"static clean-up"); }
};
CleanUpWitness witness;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring arguments;
    for (int i = 1; i < argc; ++i) arguments += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
    logLine(L"runner " + arguments);
    if (argc == 2 && std::wstring(argv[1]) == L"-ignoreinstances") return 0;
    if (argc != 4) return 2;

    // A refused or cut download fails after its retries without long pauses.
    HttpTimings timings;
    timings.retryPauseMs[0] = timings.retryPauseMs[1] = 50;
    setHttpTimingsForTests(timings);
    setHandOverWaitForTests(static_cast<uint32_t>(std::wcstoul(argv[3], nullptr, 10)));
    UpdateEngine engine;
    bool updated = false;
    std::thread worker(
        [&] { updated = selfUpdate(engine, launcherFolder(), wideToUtf8(argv[1]), wideToUtf8(argv[2])); });
    worker.join();
    logLine(L"returned " + std::wstring(updated ? L"true" : L"false") + L" state " +
            std::to_wstring(engine.state.load()));
    return 3;
}
