#pragma once

#include <windows.h>

#include "base/unique_handle.h"

struct KernelHandleTraits {
    using Native = HANDLE;
    static Native empty() { return nullptr; }
    static bool isValid(Native h) { return h && h != INVALID_HANDLE_VALUE; }
    static void close(Native h) { ::CloseHandle(h); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

struct FindHandleTraits {
    using Native = HANDLE;
    static Native empty() { return INVALID_HANDLE_VALUE; }
    static bool isValid(Native h) { return h && h != INVALID_HANDLE_VALUE; }
    static void close(Native h) { ::FindClose(h); }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

// Memory that Windows hands out with LocalAlloc (CRYPT_DECODE_ALLOC_FLAG, FormatMessage).
struct LocalMemoryTraits {
    using Native = HLOCAL;
    static Native empty() { return nullptr; }
    static bool isValid(Native h) { return h != nullptr; }
    static void close(Native h) { ::LocalFree(h); }
};
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

// Memory from GlobalAlloc (a stream on global memory frees what it was given).
struct GlobalMemoryTraits {
    using Native = HGLOBAL;
    static Native empty() { return nullptr; }
    static bool isValid(Native h) { return h != nullptr; }
    static void close(Native h) { ::GlobalFree(h); }
};
using UniqueGlobalMemory = UniqueHandle<GlobalMemoryTraits>;
