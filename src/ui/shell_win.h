#pragma once

#include "base/wstring.h"

// Everything the window hands to the shell goes through these two calls, so a test can see which
// address would open, or which program would start elevated, without a browser or a prompt.

// Opens a web page (or the target the shell associates with it) with ShellExecuteW, SW_SHOW;
// `verb` null for the default action. The result is only reported; callers ignore a failure.
bool openWebPage(const WString& target, const wchar_t* verb);

// Starts `executable` with `parameters` through ShellExecuteExW with the "runas" verb and
// SW_SHOWDEFAULT. True when the shell started it (the user accepted the elevation).
[[nodiscard]] bool runElevated(const WString& executable, const WString& parameters);

struct ShellHooks {
    bool (*openWebPage)(const WString& target, const wchar_t* verb) = nullptr;
    bool (*runElevated)(const WString& executable, const WString& parameters) = nullptr;
};

// Tests only: replaces the shell calls (null members keep the real ones).
void setShellHooksForTests(const ShellHooks& hooks);
