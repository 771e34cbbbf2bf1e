#pragma once

#include <windows.h>

#include <shellapi.h>

#include "base/handles_win.h"
#include "base/wstring.h"

// One start through the shell.
struct ShellRequest {
    WString file;
    WString parameters;             // empty: none
    WString folder;                 // empty: the caller's current folder
    const wchar_t* verb = nullptr;  // null: the default action
    int show = 0;
};

struct ShellStart {
    bool started = false;
    // Only with SEE_MASK_NOCLOSEPROCESS, and not for every start: a page handed to a browser that
    // already runs comes back without a process.
    UniqueKernelHandle process;
};

// ShellExecuteExW with the SEE_MASK_* flags of `mask` and no owner window; every start of another
// program or page goes through here.
[[nodiscard]] ShellStart shellExecute(const ShellRequest& request, ULONG mask);
