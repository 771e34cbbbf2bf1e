#pragma once

#include <windows.h>

#include <array>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "base/wstring.h"
#include "branches/branch_ui.h"
#include "config/settings.h"

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
    bool startSucceeds = true;
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
            return startSucceeds;
        };
        ui.invalidateWindow = [this] { ++invalidations; };
        ui.checkStarting = [this] { ++checkStarts; };
        return ui;
    }
};

// Polls until `done` holds; false when it still does not after `timeoutMs`.
[[nodiscard]] inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
