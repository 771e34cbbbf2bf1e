#pragma once

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/wstring.h"

// Finds, reads and answers dialogs as a user would: message boxes and the folder browser (both of
// window class "#32770"). Works from another thread of the process that shows them, and, except for
// selecting a folder, from another process (tests/helpers/dialog_driver_win.cpp). Every wait has a
// deadline.

struct DialogButton {
    HWND handle = nullptr;
    WString text;  // as shown, with its "&" mnemonic mark
};

struct DialogSnapshot {
    HWND handle = nullptr;
    HWND owner = nullptr;
    DWORD processId = 0;
    WString caption;
    std::vector<WString> texts;  // the static texts that are not empty, in child window order
    std::vector<DialogButton> buttons;
    HWND tree = nullptr;  // the folder browser's tree of folders; none in a message box
};

// Every visible dialog on the desktop; of one process only when `processId` is not 0.
[[nodiscard]] std::vector<DialogSnapshot> listDialogs(DWORD processId = 0);

// The first visible dialog with exactly this caption, once one appears within the time limit; never
// one of `answered` (a dialog already answered may still be closing).
[[nodiscard]] std::optional<DialogSnapshot> waitForDialog(const WString& caption, int timeoutMs,
                                                          DWORD processId = 0,
                                                          const std::vector<HWND>& answered = {});

// Presses the button whose text, without "&" marks, is `text` (BM_CLICK). False when there is none.
[[nodiscard]] bool clickButton(const DialogSnapshot& dialog, const WString& text);

// Waits until the dialog is gone (destroyed, not only hidden: a dialog hides before its modal loop
// ends, and the code that showed it goes on only after that); false when it is still there at the
// deadline.
[[nodiscard]] bool waitUntilClosed(HWND dialog, int timeoutMs);

// The name of the folder selected in a folder browser of this process, as its tree shows it.
[[nodiscard]] WString selectedFolderName(const DialogSnapshot& browser);

// Selects `folder` in a folder browser of this process (BFFM_SETSELECTIONW takes a pointer into the
// browser's process) and presses OK. False when the selection did not land on the folder.
[[nodiscard]] bool chooseFolderInBrowser(const DialogSnapshot& browser, const WString& folder);
// Waits until the browser shows the folder called `name` selected, as it opens at its start folder.
[[nodiscard]] bool reachStartFolder(const DialogSnapshot& browser, const WString& name, int timeoutMs);

// Lists every folder along `path`. Under Wine a browser only opens at a start folder whose folders
// have all been listed since they last changed (notes/wine.md); a test that checks where the
// browser opens calls this first.
void listFoldersAlong(const WString& path);

// The caption of the folder browser under Wine.
inline constexpr wchar_t kFolderBrowserCaption[] = L"Browse for Folder";

// One expected dialog: its caption, and either the button to press or the folder to choose in the
// folder browser.
struct DialogStep {
    WString caption;
    WString button;
    WString folder{};
    // For a folder browser answered with a button: the name of the folder it should open at. The
    // answer waits (a while) until the selection has got there: Wine's browser walks to its start
    // folder one level at a time, and under load a click can come before it has arrived.
    WString openAt{};
};

// Answers this process's dialogs in the given order on a thread of its own, while the test thread
// sits in the modal loops. Each step waits for its dialog only once the previous one is gone, and
// an answered dialog is never taken for a later one. What it saw is kept for the test thread to
// check. A dialog after the
// last step, or any left when a step fails (no such dialog in time, no such button), is recorded
// as a failure and closed (Cancel, No or OK), so the test thread always gets out of its modal
// loops; the answerer keeps watching until finish(). With a grace time, dialogs after the script
// are left alone that long (for another driver to answer), which makes an answerer without steps a
// watchdog.
class DialogAnswerer {
public:
    explicit DialogAnswerer(std::vector<DialogStep> steps, int stepTimeoutMs = 10000, int graceMs = 0);
    ~DialogAnswerer();
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    // Stops watching and returns every dialog it saw, in order. Call it once the code under test
    // has returned.
    std::vector<DialogSnapshot> finish();
    // Empty when every step was answered; otherwise what went wrong.
    [[nodiscard]] const std::string& failure() const { return problem; }

private:
    void run(std::vector<DialogStep> steps, int stepTimeoutMs, int graceMs);

    std::vector<DialogSnapshot> seen;
    std::string problem;
    std::atomic<bool> finishing{false};
    std::thread worker;
};

// The text of a dialog for test messages: caption, texts and buttons, one per line, in UTF-8.
[[nodiscard]] std::string describeDialog(const DialogSnapshot& dialog);
