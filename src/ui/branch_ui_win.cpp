#include "ui/branch_ui_win.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "base/unique_handle.h"
#include "ui/shell_win.h"

namespace {

// The longest path Windows knows, with its terminating null.
constexpr size_t kLongPathUnits = 32768;

// The browser's item list is allocated with the COM task allocator.
struct ItemListTraits {
    using Native = PIDLIST_ABSOLUTE;
    static Native empty() { return nullptr; }
    static bool isValid(Native list) { return list != nullptr; }
    static void close(Native list) { CoTaskMemFree(list); }
};
using UniqueItemList = UniqueHandle<ItemListTraits>;

UINT messageBoxFlags(MessageKind kind) {
    switch (kind) {
        case MessageKind::Information:
            return MB_OK | MB_ICONINFORMATION;
        case MessageKind::Warning:
            return MB_OK | MB_ICONWARNING;
        case MessageKind::Error:
            return MB_OK | MB_ICONERROR;
        case MessageKind::YesNo:
            return MB_YESNO | MB_ICONWARNING;
    }
    return MB_OK;
}

// Selects the start folder (a path, hence TRUE) once the browser is up. `data` is the start
// folder's text, owned by browseForFolder for as long as the browser is open.
int CALLBACK selectStartFolder(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

}  // namespace

std::optional<WString> browseForFolder(HWND owner, const WString& title, const WString& startFolder) {
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = selectStartFolder;
    info.lParam = startFolder.empty() ? 0 : reinterpret_cast<LPARAM>(startFolder.c_str());
    const UniqueItemList items(SHBrowseForFolderW(&info));
    if (!items) return std::nullopt;
    // The launcher declares itself long-path aware: a folder deeper than MAX_PATH is read whole
    // rather than dropped, and the choice decides whether it can be used.
    std::vector<wchar_t> path(kLongPathUnits, L'\0');
    if (!SHGetPathFromIDListEx(items.get(), path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
        return WString();
    }
    return WString(path.data());
}

BranchUi makeWindowBranchUi(HWND window, bool elevated) {
    BranchUi ui;
    ui.showMessage = [window](MessageKind kind, const WString& caption, const WString& text) {
        return MessageBoxW(window, text.c_str(), caption.c_str(), messageBoxFlags(kind)) == IDYES;
    };
    ui.pickFolder = [window](const WString& title, const WString& startFolder) {
        return browseForFolder(window, title, startFolder);
    };
    ui.startProgram = [elevated](const WString& program, const WString& workingFolder) {
        return startProgram(program, workingFolder, elevated);
    };
    ui.invalidateWindow = [window] { InvalidateRect(window, nullptr, TRUE); };
    return ui;
}

void flashUntilForeground(HWND window) {
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = window;
    flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}
