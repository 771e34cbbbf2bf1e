#include "crypto/sha256_win.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/handles_win.h"
#include "crypto/hex_text.h"
#include "crypto/sha256_digest_win.h"

namespace {

constexpr DWORD kFileBlockBytes = 65536;
// BCryptHashData takes a 32-bit length.
constexpr size_t kMaxHashPieceBytes = 1u << 30;

}  // namespace

bool Sha256Digester::begin() {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return false;
    provider.reset(algorithm);
    // Object memory allocated by the provider, no secret.
    BCRYPT_HASH_HANDLE created = nullptr;
    if (BCryptCreateHash(provider.get(), &created, nullptr, 0, nullptr, 0, 0) != 0) return false;
    hash.reset(created);
    return true;
}

bool Sha256Digester::add(const void* data, size_t size) {
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (size > 0) {
        const size_t piece = std::min(size, kMaxHashPieceBytes);
        if (!hash || BCryptHashData(hash.get(), bytes, static_cast<ULONG>(piece), 0) != 0) return false;
        bytes += piece;
        size -= piece;
    }
    return true;
}

bool Sha256Digester::finish(Sha256Digest& digest) {
    return hash && BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0) == 0;
}

std::string sha256FileHex(const WString& path) {
    UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return {};
    Sha256Digester digester;
    if (!digester.begin()) return {};
    // One reusable block, so files of any size hash in constant memory. A read error ends the
    // input like the end of the file: the partial hash will not match any published one.
    std::vector<char> block(kFileBlockBytes, 0);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), block.data(), kFileBlockBytes, &got, nullptr) || got == 0) break;
        if (!digester.add(block.data(), got)) return {};
    }
    Sha256Digest digest{};
    if (!digester.finish(digest)) return {};
    return lowerHex(digest.data(), digest.size());
}
