#pragma once

#include "base/shell_execute_win.h"
#include "base/wstring.h"

// Everything the window hands to the shell goes through these calls, so a test can see which
// address would open, or which program would start elevated, without a browser or a prompt.
//
// A launcher that runs elevated (after "try again as administrator") must not pass its rights on:
// a game started elevated writes into the real Program Files instead of its VirtualStore, so its
// saves seem to vanish between elevated and normal starts, and a browser would run elevated too.
// With `elevated` set, pages and the game are handed to the desktop's own shell (the Explorer of
// the user's session, which runs with the user's normal rights) through its ShellExecute
// (IShellDispatch2, reached from the desktop's shell window); only when that cannot be done does
// the launcher start them itself. The window thread calls these; COM must be initialised there.

// Opens a web page (or the target the shell associates with it), SW_SHOW; `verb` null for the
// default action. The result is only reported; callers ignore a failure.
bool openWebPage(const WString& target, const wchar_t* verb, bool elevated);

// Starts `program` in `folder` without arguments, SW_SHOWDEFAULT, without waiting for it. True when
// it started (by the desktop's shell, or directly). The desktop's shell only says that it took the
// request: a start through it counts once the program's process shows up (within 8 s; the window
// goes on answering meanwhile), and a request it took but did not carry out is a failed start.
[[nodiscard]] bool startProgram(const WString& program, const WString& folder, bool elevated);

// Starts `executable` with `parameters` through ShellExecuteExW with the "runas" verb and
// SW_SHOWDEFAULT. True when the shell started it (the user accepted the elevation).
[[nodiscard]] bool runElevated(const WString& executable, const WString& parameters);

// Asks the desktop's shell to start the request. False when there is no desktop shell to ask
// (no Explorer, another shell, a session without a desktop) or it refused; nothing was started then.
[[nodiscard]] bool startThroughDesktopShell(const ShellRequest& request);

struct ShellHooks {
    bool (*openWebPage)(const WString& target, const wchar_t* verb) = nullptr;
    bool (*runElevated)(const WString& executable, const WString& parameters) = nullptr;
    // Replace the two ways a page or program is started, under the choice between them above.
    bool (*startThroughDesktopShell)(const ShellRequest& request) = nullptr;
    bool (*startDirectly)(const ShellRequest& request) = nullptr;
    // How long a start through the desktop's shell is given to show up; 0: as in the product.
    DWORD confirmStartMs = 0;
};

// Tests only: replaces the shell calls (null members keep the real ones). An `openWebPage` hook
// replaces the whole call, choice included.
void setShellHooksForTests(const ShellHooks& hooks);
