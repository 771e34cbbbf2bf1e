#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "base/unique_handle.h"

struct AlgorithmHandleTraits {
    using Native = BCRYPT_ALG_HANDLE;
    static Native empty() { return nullptr; }
    static bool isValid(Native h) { return h != nullptr; }
    static void close(Native h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using UniqueAlgorithmHandle = UniqueHandle<AlgorithmHandleTraits>;

struct HashHandleTraits {
    using Native = BCRYPT_HASH_HANDLE;
    static Native empty() { return nullptr; }
    static bool isValid(Native h) { return h != nullptr; }
    static void close(Native h) { ::BCryptDestroyHash(h); }
};
using UniqueHashHandle = UniqueHandle<HashHandleTraits>;

struct KeyHandleTraits {
    using Native = BCRYPT_KEY_HANDLE;
    static Native empty() { return nullptr; }
    static bool isValid(Native h) { return h != nullptr; }
    static void close(Native h) { ::BCryptDestroyKey(h); }
};
using UniqueKeyHandle = UniqueHandle<KeyHandleTraits>;
