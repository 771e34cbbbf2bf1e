#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes as lower-case hexadecimal text, two characters per byte in byte order ("%02x" each).
[[nodiscard]] std::string lowerHex(const uint8_t* bytes, size_t size);
