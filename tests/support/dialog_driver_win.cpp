#include "support/dialog_driver_win.h"

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "config/text_convert.h"

namespace {

constexpr int kPollMs = 20;
constexpr UINT kSendTimeoutMs = 5000;

WString windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return {};
    WString text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

WString className(HWND window) {
    wchar_t name[64] = {};
    const int got = GetClassNameW(window, name, 64);
    return WString(name, static_cast<size_t>(got > 0 ? got : 0));
}

WString withoutMnemonics(const WString& text) {
    WString plain;
    for (wchar_t c : text) {
        if (c != L'&') plain += c;
    }
    return plain;
}

BOOL CALLBACK collectChild(HWND child, LPARAM data) {
    auto& dialog = *reinterpret_cast<DialogSnapshot*>(data);
    const WString kind = className(child);
    if (kind == L"Static") {
        WString text = windowText(child);
        if (!text.empty()) dialog.texts.push_back(std::move(text));
    } else if (kind == L"Button") {
        dialog.buttons.push_back(DialogButton{child, windowText(child)});
    } else if (kind == L"SysTreeView32") {
        dialog.tree = child;
    }
    return TRUE;
}

struct Listing {
    DWORD processId;
    std::vector<DialogSnapshot> dialogs;
};

BOOL CALLBACK collectDialog(HWND window, LPARAM data) {
    auto& listing = *reinterpret_cast<Listing*>(data);
    if (!IsWindowVisible(window) || className(window) != L"#32770") return TRUE;
    DialogSnapshot dialog;
    dialog.handle = window;
    GetWindowThreadProcessId(window, &dialog.processId);
    if (listing.processId != 0 && dialog.processId != listing.processId) return TRUE;
    dialog.owner = GetWindow(window, GW_OWNER);
    dialog.caption = windowText(window);
    EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&dialog));
    listing.dialogs.push_back(std::move(dialog));
    return TRUE;
}

bool send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) !=
           0;
}

// Closes a dialog the way a user who wants out would.
void dismiss(const DialogSnapshot& dialog) {
    for (const wchar_t* way : {L"Cancel", L"No", L"OK"}) {
        if (clickButton(dialog, way)) return;
    }
    if (!dialog.buttons.empty()) (void)send(dialog.buttons.back().handle, BM_CLICK, 0, 0);
}

}  // namespace

std::vector<DialogSnapshot> listDialogs(DWORD processId) {
    Listing listing{processId, {}};
    EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&listing));
    return std::move(listing.dialogs);
}

static bool isAnswered(HWND dialog, const std::vector<HWND>& answered) {
    return std::find(answered.begin(), answered.end(), dialog) != answered.end();
}

std::optional<DialogSnapshot> waitForDialog(const WString& caption, int timeoutMs, DWORD processId,
                                            const std::vector<HWND>& answered) {
    for (int waited = 0;; waited += kPollMs) {
        for (DialogSnapshot& dialog : listDialogs(processId)) {
            if (dialog.caption == caption && !isAnswered(dialog.handle, answered)) return std::move(dialog);
        }
        if (waited >= timeoutMs) return std::nullopt;
        Sleep(kPollMs);
    }
}

bool clickButton(const DialogSnapshot& dialog, const WString& text) {
    for (const DialogButton& button : dialog.buttons) {
        if (withoutMnemonics(button.text) == text) return PostMessageW(button.handle, BM_CLICK, 0, 0) != 0;
    }
    return false;
}

bool waitUntilClosed(HWND dialog, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += kPollMs) {
        if (!IsWindow(dialog)) return true;
        Sleep(kPollMs);
    }
    return !IsWindow(dialog);
}

HTREEITEM treeItem(HWND tree, WPARAM relation, HTREEITEM from) {
    DWORD_PTR item = 0;
    if (!SendMessageTimeoutW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(from),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &item)) {
        return nullptr;
    }
    return reinterpret_cast<HTREEITEM>(item);
}

WString treeItemText(HWND tree, HTREEITEM item) {
    if (!item) return {};
    wchar_t text[MAX_PATH] = {};
    TVITEMW request{};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = text;
    request.cchTextMax = MAX_PATH;
    return send(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&request)) ? WString(text) : WString();
}

WString selectedFolderName(const DialogSnapshot& browser) {
    if (!browser.tree) return {};
    return treeItemText(browser.tree, treeItem(browser.tree, TVGN_CARET, nullptr));
}

// Selects the item called `name` among the children of `parent` in the browser's tree.
bool selectChildNamed(HWND tree, HTREEITEM parent, const WString& name) {
    for (HTREEITEM item = treeItem(tree, TVGN_CHILD, parent); item; item = treeItem(tree, TVGN_NEXT, item)) {
        if (treeItemText(tree, item) == name) {
            return send(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        }
    }
    return false;
}

bool chooseFolderInBrowser(const DialogSnapshot& browser, const WString& folder) {
    const WString name = folder.substr(folder.find_last_of(L"\\/") + 1);
    std::vector<WString> components;
    for (size_t start = 0; start <= folder.size();) {
        const size_t end = std::min(folder.find(L'\\', start), folder.size());
        components.push_back(folder.substr(start, end - start));
        start = end + 1;
    }
    // Selecting walks the tree one level at a time. Wine's shell sometimes leaves the selection where
    // it was (a folder list it holds from before) or stops on a folder along the way; then a sibling
    // of the selected folder, or the next folder along the path below it, is picked in the tree
    // itself, which the browser follows as if clicked.
    constexpr int kSelectTimeoutMs = 15000;
    constexpr int kRetryMs = 250;
    for (int waited = 0; waited < kSelectTimeoutMs; waited += kRetryMs) {
        if (!send(browser.handle, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str())))
            return false;
        for (int step = 0; step < 64; ++step) {
            const WString at = selectedFolderName(browser);
            if (at == name) return clickButton(browser, L"OK");
            const HTREEITEM selected = treeItem(browser.tree, TVGN_CARET, nullptr);
            if (!selected) break;
            if (selectChildNamed(browser.tree, treeItem(browser.tree, TVGN_PARENT, selected), name)) continue;
            const auto along = std::find(components.rbegin(), components.rend(), at);
            if (along == components.rbegin() || along == components.rend() ||
                !selectChildNamed(browser.tree, selected, *std::prev(along)))
                break;
        }
        listFoldersAlong(folder);
        Sleep(kRetryMs);
    }
    return false;
}

bool reachStartFolder(const DialogSnapshot& browser, const WString& name, int timeoutMs) {
    // Under load Wine's browser sometimes stops one level short of the folder it was sent to at
    // its start: the folder's parent (a folder of this run alone) shows that it was on its way,
    // and the folder is then picked among its children.
    constexpr int kShortStopMs = 3000;
    for (int waited = 0; waited < timeoutMs; waited += kPollMs) {
        if (selectedFolderName(browser) == name) return true;
        if (waited >= kShortStopMs) {
            const HTREEITEM selected = treeItem(browser.tree, TVGN_CARET, nullptr);
            if (selected && selectChildNamed(browser.tree, selected, name)) continue;
        }
        Sleep(kPollMs);
    }
    return false;
}

void listFoldersAlong(const WString& path) {
    for (size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
        WIN32_FIND_DATAW entry{};
        const HANDLE find = FindFirstFileW((path.substr(0, end) + L"\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            while (FindNextFileW(find, &entry)) {
            }
            FindClose(find);
        }
        if (end == WString::npos) return;
    }
}

DialogAnswerer::DialogAnswerer(std::vector<DialogStep> steps, int stepTimeoutMs, int graceMs)
    : worker([this, steps = std::move(steps), stepTimeoutMs, graceMs]() mutable {
          run(std::move(steps), stepTimeoutMs, graceMs);
      }) {}

DialogAnswerer::~DialogAnswerer() { (void)finish(); }

std::vector<DialogSnapshot> DialogAnswerer::finish() {
    finishing.store(true);
    if (worker.joinable()) worker.join();
    return seen;
}

void DialogAnswerer::run(std::vector<DialogStep> steps, int stepTimeoutMs, int graceMs) {
    const DWORD self = GetCurrentProcessId();
    std::vector<HWND> answered;
    for (const DialogStep& step : steps) {
        const std::optional<DialogSnapshot> dialog =
            waitForDialog(step.caption, stepTimeoutMs, self, answered);
        if (!dialog) {
            problem = "no dialog \"" + wideToUtf8(step.caption) + "\" appeared";
            break;
        }
        seen.push_back(*dialog);
        if (!step.openAt.empty() && !reachStartFolder(*dialog, step.openAt, stepTimeoutMs)) {
            problem = "the browser did not open at \"" + wideToUtf8(step.openAt) + "\" but at \"" +
                      wideToUtf8(selectedFolderName(*dialog)) + "\"";
            dismiss(*dialog);
            break;
        }
        answered.push_back(dialog->handle);
        const bool clicked = step.folder.empty() ? clickButton(*dialog, step.button)
                                                 : chooseFolderInBrowser(*dialog, step.folder);
        if (!clicked || !waitUntilClosed(dialog->handle, stepTimeoutMs)) {
            answered.pop_back();  // still open: closed below like any other
            const std::string at = "\"" + wideToUtf8(selectedFolderName(*dialog)) + "\"";
            if (step.folder.empty())
                problem = "could not answer " + describeDialog(*dialog);
            else if (!clicked)
                problem = "the browser did not reach \"" + wideToUtf8(step.folder) + "\" but stayed at " + at;
            else
                problem = "the browser did not close after OK at " + at;
            break;
        }
    }
    // Whatever comes after the script, or is left by a failed step, is recorded and closed, so
    // the test thread always gets out of its modal loops.
    const ULONGLONG closeFrom = GetTickCount64() + static_cast<ULONGLONG>(graceMs);
    while (!finishing.load()) {
        if (GetTickCount64() < closeFrom) {
            Sleep(kPollMs);
            continue;
        }
        for (const DialogSnapshot& dialog : listDialogs(self)) {
            if (isAnswered(dialog.handle, answered) && IsWindow(dialog.handle)) continue;  // still closing
            if (problem.empty()) problem = "unexpected " + describeDialog(dialog);
            seen.push_back(dialog);
            dismiss(dialog);
            (void)waitUntilClosed(dialog.handle, stepTimeoutMs);
        }
        Sleep(kPollMs);
    }
}

std::string describeDialog(const DialogSnapshot& dialog) {
    std::string text = "dialog \"" + wideToUtf8(dialog.caption) + "\"\n";
    for (const WString& line : dialog.texts) text += "  text: " + wideToUtf8(line) + "\n";
    for (const DialogButton& button : dialog.buttons) text += "  button: " + wideToUtf8(button.text) + "\n";
    return text;
}
