// Stands in for the running launcher in the self-update tests. Copied into a scratch launcher
// folder, it calls selfUpdate against the test server, so its own executable is the one that is
// renamed aside, replaced and perhaps restored. Every start appends a line to events.log in its
// folder. As in the launcher, selfUpdate runs on a worker thread while the main thread stays alive;
// a static object logs "static clean-up" when it is destroyed, which an ending self-update must not
// cause: the launcher's window thread would still be drawing.
//
// Two ways to run:
// - usage: self_update_runner.exe BRANCH_BASE_URL LAUNCHER_CHECKSUM HAND_OVER_WAIT_MS
//   one selfUpdate; a start with "-ignoreinstances" alone (after a rollback) only logs and exits.
// - with runner.txt in its folder, every start (the restored ones too) is a launcher's check
//   without a window: the start-up repair of an unfinished hand-over, then one update run per
//   branch against the servers, launcher update included, each noted with its final state, then
//   "check done". runner.txt holds lines "wait MS", "server BASE_URL" (one or more) and
//   "branch SERVER_PATH GAME_FOLDER" (one or two); a runner_stop.txt holding a step number makes
//   that start alone stop at that step of the self-update (SelfUpdateStep), as a kill would. The
//   run log is launcher.log in the folder. A ninth start in one folder only notes "loop guard":
//   a launcher update that loops must not go on after the test.
// Exit codes: 0 the process was ended by the self-update (or a logged restart, or a check), 3
// selfUpdate returned false, 2 wrong arguments, 4 the loop guard.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/handles_win.h"
#include "base/paths_win.h"
#include "base/read_file_win.h"
#include "base/run_log.h"
#include "config/text_convert.h"
#include "net/http_client_win.h"
#include "update/hand_over_win.h"
#include "update/self_update_win.h"
#include "update/update_engine.h"
#include "update/update_run_win.h"

namespace {

constexpr size_t kLoopGuardStarts = 8;

void note(const std::wstring& line) {
    const WString path = launcherFolder() + L"\\events.log";
    UniqueKernelHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string bytes = wideToUtf8(line) + "\n";
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

struct CleanUpWitness {
    ~CleanUpWitness() { note(L"static clean-up"); }
};
CleanUpWitness witness;

void useFastRetries() {
    // A refused or cut download fails after its retries without long pauses.
    HttpTimings timings;
    timings.retryPauseMs[0] = timings.retryPauseMs[1] = 50;
    setHttpTimingsForTests(timings);
}

size_t earlierStarts() {
    const std::string events = readWholeFile(launcherFolder() + L"\\events.log").value_or("");
    size_t starts = 0;
    for (size_t at = 0; (at = events.find("runner ", at)) != std::string::npos; ++at) {
        if (at == 0 || events[at - 1] == '\n') ++starts;
    }
    return starts;
}

struct Branch {
    std::string serverPath;
    WString folder;
};

// A launcher's check as the update worker runs it, from the settings in runner.txt.
int runCheck(const std::string& settings) {
    const WString folder = launcherFolder();
    if (earlierStarts() > kLoopGuardStarts) {
        note(L"loop guard");
        return 4;
    }
    (void)openRunLog(folder);
    rotateRunLog();
    if (repairUnfinishedHandOver(folder) == HandOverRepair::Restored) {
        note(L"repaired: the backup is back");
        return 0;
    }
    UpdateRunSetup setup;
    setup.launcherFolder = folder;
    std::vector<Branch> branches;
    size_t start = 0;
    while (start < settings.size()) {
        const size_t end = std::min(settings.find('\n', start), settings.size());
        const std::string line = settings.substr(start, end - start);
        start = end + 1;
        const size_t blank = line.find(' ');
        const std::string key = line.substr(0, blank),
                          value = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (key == "wait")
            setHandOverWaitForTests(static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10)));
        if (key == "server") setup.serverBaseUrls.push_back(value);
        if (key == "branch") {
            const size_t split = value.find(' ');
            branches.push_back({value.substr(0, split), utf8ToWide(value.substr(split + 1))});
        }
    }
    const WString stopFile = folder + L"\\runner_stop.txt";
    if (const auto stop = readWholeFile(stopFile)) {
        DeleteFileW(stopFile.c_str());
        setSelfUpdateStopForTests(static_cast<SelfUpdateStep>(std::strtol(stop->c_str(), nullptr, 10)));
    }
    std::thread worker([&] {
        for (const Branch& branch : branches) {
            UpdateEngine engine;
            engine.folder = branch.folder;
            engine.serverPath = branch.serverPath;
            const int32_t state = runUpdate(engine, setup);
            note(L"branch " + utf8ToWide(branch.serverPath) + L": state " + std::to_wstring(state));
        }
    });
    worker.join();
    note(L"check done");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring arguments;
    for (int i = 1; i < argc; ++i) arguments += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
    note(L"runner " + arguments);
    useFastRetries();
    if (const auto settings = readWholeFile(launcherFolder() + L"\\runner.txt")) return runCheck(*settings);
    if (argc == 2 && std::wstring(argv[1]) == L"-ignoreinstances") return 0;
    if (argc != 4) return 2;

    setHandOverWaitForTests(static_cast<uint32_t>(std::wcstoul(argv[3], nullptr, 10)));
    UpdateEngine engine;
    bool updated = false;
    std::thread worker(
        [&] { updated = selfUpdate(engine, launcherFolder(), wideToUtf8(argv[1]), wideToUtf8(argv[2]), 0); });
    worker.join();
    note(L"returned " + std::wstring(updated ? L"true" : L"false") + L" state " +
         std::to_wstring(engine.state.load()));
    return 3;
}
