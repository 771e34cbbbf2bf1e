#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <gtest/gtest.h>
#include <vector>

#include "base/wstring.h"
#include "branches/branch_ui.h"
#include "branches/update_worker_win.h"
#include "config/settings.h"
#include "support/game_folder_win.h"
#include "support/language_scope.h"
#include "support/test_env_win.h"

inline constexpr int kWaitMs = 10000;

// The process-wide branch folders for the life of the object; the folders it found come back.
class FoldersScope {
public:
    explicit FoldersScope(std::array<WString, kBranchCount> folders)
        : saved(std::exchange(appSettings().branchFolders, std::move(folders))) {}
    ~FoldersScope() { appSettings().branchFolders = saved; }
    FoldersScope(const FoldersScope&) = delete;
    FoldersScope& operator=(const FoldersScope&) = delete;

private:
    std::array<WString, kBranchCount> saved;
};

struct ShownMessage {
    MessageKind kind;
    WString caption;
    WString text;
};

// Window callbacks that record what the branch code asked of the window.
struct UiRecorder {
    bool answerYes = false;
    std::vector<ShownMessage> messages;
    std::vector<std::array<WString, 2>> started;  // program, working folder
    int checkStarts = 0;
    int invalidations = 0;

    [[nodiscard]] BranchUi ui() {
        BranchUi ui;
        ui.showMessage = [this](MessageKind kind, const WString& caption, const WString& text) {
            messages.push_back({kind, caption, text});
            return kind == MessageKind::YesNo && answerYes;
        };
        ui.startProgram = [this](const WString& program, const WString& folder) {
            started.push_back({program, folder});
            return true;
        };
        ui.invalidateWindow = [this] { ++invalidations; };
        ui.checkStarting = [this] { ++checkStarts; };
        return ui;
    }
};

// Two complete game folders (with Mss23.dll), set as the branches' folders, a recording window and
// the worker, in English.
class BranchTest : public testing::Test {
protected:
    void SetUp() override {
        for (const WString& folder : games) {
            ASSERT_TRUE(makeCompleteGameFolder(folder) && writeFileBytes(folder + L"\\Mss23.dll", "lib"));
        }
        worker.ui = recorder.ui();
    }
    ~BranchTest() override { release.store(true); }

    // Starts a check whose thread holds before it begins until the test ends: a check that runs.
    void startHeldCheck() {
        worker.startThread = [this](std::function<void()> body) {
            return std::thread([this, body] {
                (void)waitUntil([this] { return release.load(); }, 60000);
                body();
            });
        };
        startUpdateCheck(worker, false);
    }

    [[nodiscard]] bool checkToEnd(bool verify = false) {
        startUpdateCheck(worker, verify);
        return waitUntil([this] { return !worker.workerRunning.load(); }, kWaitMs);
    }

    LanguageScope english{Language::English};
    ScratchDir dir;
    const std::array<WString, kBranchCount> games{dir / L"Lurra game", dir / L"Kordan game"};
    FoldersScope folders{games};
    UiRecorder recorder;
    std::atomic<bool> release{false};
    UpdateWorker worker;  // last: destroyed first, while what its runs use still exists
};
