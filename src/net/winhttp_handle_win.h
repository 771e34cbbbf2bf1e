#pragma once

#include <windows.h>

#include <winhttp.h>

#include "base/unique_handle.h"

// Session, connection and request handles of WinHTTP share one type and one close call.
struct WinHttpHandleTraits {
    using Native = HINTERNET;
    static Native empty() { return nullptr; }
    static bool isValid(Native h) { return h != nullptr; }
    static void close(Native h) { ::WinHttpCloseHandle(h); }
};
using UniqueInternetHandle = UniqueHandle<WinHttpHandleTraits>;
