#pragma once

#include <functional>
#include <optional>

#include "base/wstring.h"

// What the branch code asks of the main window. The update check, the folder choice and the game
// launch reach the window only through these callbacks, so nothing in src/branches holds a window
// handle; the window's own implementation is in ui/branch_ui_win.h, tests supply stand-ins.
//
// Every callback is called on the window thread only: from startUpdateCheck, chooseBranchFolder
// and launchBranch, which the window thread runs. The update worker thread never calls them. A
// callback left empty does nothing (a message then counts as answered "no").

enum class MessageKind {
    Information,  // an OK box with the information icon
    Warning,      // an OK box with the warning icon
    Error,        // an OK box with the error icon
    YesNo,        // a Yes/No question with the warning icon
};

struct BranchUi {
    // A modal message box owned by the main window. True only when a YesNo question was answered
    // Yes.
    std::function<bool(MessageKind kind, const WString& caption, const WString& text)> showMessage;

    // The modal folder browser, owned by the main window, opening at `startFolder` (which may be
    // empty). The chosen folder's path; nothing when the user cancelled; an empty path when the
    // chosen item has no file system path that could be read.
    std::function<std::optional<WString>(const WString& title, const WString& startFolder)> pickFolder;

    // Starts a program in a working folder without waiting for it; true when it started.
    std::function<bool(const WString& program, const WString& workingFolder)> startProgram;

    // The whole window is to be repainted, background included.
    std::function<void()> invalidateWindow;

    // A check is being started: the window resets its transfer-rate sampling, disables the
    // verify-files button and both play buttons and repaints them.
    std::function<void()> checkStarting;
};

[[nodiscard]] inline bool showBranchMessage(const BranchUi& ui, MessageKind kind, const WString& caption,
                                            const WString& text) {
    return ui.showMessage && ui.showMessage(kind, caption, text);
}
