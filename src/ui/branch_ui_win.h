#pragma once

#include <windows.h>

#include <optional>

#include "base/wstring.h"
#include "branches/branch_ui.h"

// The branch code's window callbacks, made from the main window. Message boxes and the folder
// browser are owned by `window`; the game starts through the shell with no owner, without the
// launcher's rights when it runs `elevated` (ui/shell_win.h). The window sets
// `checkStarting` itself: it touches the window's own buttons and rate sampling. The thread that
// calls pickFolder must have initialised COM (the browser's new dialog style needs it).
[[nodiscard]] BranchUi makeWindowBranchUi(HWND window, bool elevated);

// The system folder browser over the whole shell namespace, opening at `startFolder` when it is
// not empty, for file system folders only. The chosen path, read in full however long it is;
// nothing when cancelled; an empty path when the chosen item has no file system path.
[[nodiscard]] std::optional<WString> browseForFolder(HWND owner, const WString& title,
                                                     const WString& startFolder);

// Flashes the window's caption and taskbar button until the window comes to the foreground: a
// finished check is worth a look.
void flashUntilForeground(HWND window);
