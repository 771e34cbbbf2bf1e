#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/bcrypt_handles_win.h"

using Sha256Digest = std::array<uint8_t, 32>;

// Incremental SHA-256 over the platform's provider. Any provider failure makes the whole digest
// fail; nothing is kept between digests.
class Sha256Digester {
public:
    [[nodiscard]] bool begin();
    [[nodiscard]] bool add(const void* data, size_t size);
    [[nodiscard]] bool finish(Sha256Digest& digest);

private:
    UniqueAlgorithmHandle provider;
    UniqueHashHandle hash;
};
