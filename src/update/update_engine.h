#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/saturating.h"
#include "base/wstring.h"
#include "config/settings.h"

// Run states of an update run. A run moves forward through the progress states within one server
// attempt and ends in one of the final states, kStateFinished to kStateFilesInUse; the next attempt
// starts again at kStateDetectingVersion.
enum RunState : int32_t {
    kStateCreated = 0,
    kStateDetectingVersion = 1,
    kStateCheckingForUpdates = 2,
    kStateUpdatingLauncher = 3,
    kStateDownloadingPatchInfo = 4,
    kStateCheckingFiles = 5,
    kStateDownloadingFiles = 6,
    kStateFinished = 7,         // success, up to date, or downgrade refused
    kStateNoDescriptor = 8,     // "Could not connect to the update server!"
    kStateBadPatchInfo = 9,     // manifest missing, unsigned or corrupt
    kStateUncheckedFiles = 10,  // some local files could not be checked
    kStateDownloadFailed = 11,  // some files could not be downloaded
    kStateFilesInUse = 12,      // some files in use or access denied
};

// The one long-lived record through which an update run (worker thread) and the window thread
// talk. Numbers, flags and the state are atomics; the texts are touched only under `lock`, held
// just long enough to copy a text in or out and never while another lock is taken. The plain
// fields are written by the worker before a run or by the run itself, and nothing else reads them
// while a run is in progress.
struct UpdateEngine {
    UpdateEngine();

    WString folder;             // the branch folder being updated
    std::string serverPath;     // "/lurra" or "/ktvx"
    bool fetchNews = true;      // the run fetches the news unless newsText is already filled
    std::string pack;           // `pack` of the last descriptor
    int32_t packSize = 0;       // `pack_size` of the last descriptor
    bool notPublished = false;  // the descriptor answered 404; cleared at each server attempt

    // Progress numbers: every add goes through addSaturating (base/saturating.h).
    std::atomic<int32_t> currentDone{0};
    std::atomic<int32_t> currentTotal{0};
    std::atomic<int32_t> filesDone{0};
    std::atomic<int32_t> filesTotal{0};
    std::atomic<int32_t> bytesDone{0};
    std::atomic<int32_t> bytesTotal{0};

    std::atomic<bool> dialogPending{false};  // the run waits for the window's answer
    std::atomic<bool> dialogAnswer{false};   // the user chose to continue anyway
    std::atomic<bool> stopRequested{false};  // the run should end early

    bool verifyAll = false;  // check every file even when the installed version is current
    std::atomic<int32_t> state{kStateCreated};
    // The final message of the run as a pair (null until a run has ended in one), so that the
    // check's summary can say again what happened, in whichever language is current then.
    std::atomic<const TextPair*> outcomeText{nullptr};

    std::mutex lock;
    WString statusText;
    WString currentFile;
    WString launcherUpdateText;
    WString newsText;
    WString dialogText;
    std::string displayVersion;
};

// The texts as the window thread copies them once per tick, all under one hold of the lock.
struct EngineTexts {
    WString statusText;
    WString currentFile;
    WString launcherUpdateText;
    WString dialogText;
    WString newsText;
    std::string displayVersion;
};
[[nodiscard]] EngineTexts copyEngineTexts(UpdateEngine& engine);

// Text access under the engine's lock.
void setStatusText(UpdateEngine& engine, const WString& text);
void setCurrentFile(UpdateEngine& engine, const WString& text);
void setLauncherUpdateText(UpdateEngine& engine, const WString& text);
[[nodiscard]] WString copyStatusText(UpdateEngine& engine);
[[nodiscard]] WString copyCurrentFile(UpdateEngine& engine);
[[nodiscard]] WString copyNewsText(UpdateEngine& engine);
[[nodiscard]] WString copyDialogText(UpdateEngine& engine);
[[nodiscard]] std::string copyDisplayVersion(UpdateEngine& engine);

// Publishes one outcome of a run: the state, then the status text.
void publishOutcome(UpdateEngine& engine, int32_t state, const WString& text);
