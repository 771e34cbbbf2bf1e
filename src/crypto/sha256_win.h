#pragma once

#include <string>

#include "base/wstring.h"

// SHA-256 of a file as 64 lower-case hexadecimal characters, or "" when the file cannot be read
// or hashed ("" never equals a valid hash).
[[nodiscard]] std::string sha256FileHex(const WString& path);
