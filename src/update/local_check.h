#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/wstring.h"

// The CRC-32 text of the local check: 8 upper-case hexadecimal digits with leading zeros.
[[nodiscard]] std::string formatCrc32(uint32_t crc);

// The walk behind the link rule, with the file system query passed in: `isReparsePoint` is asked
// about the game folder + "\" + each "/"- or "\"-separated component of the relative path in turn,
// outermost first, each once; the game folder itself is never asked about. True as soon as one
// answer is true. A trailing separator ends the walk. Tests use this seam where Wine cannot make
// the links that Windows has.
[[nodiscard]] bool crossesReparsePointWith(const WString& gameFolder, std::string_view relativePathUtf8,
                                           const std::function<bool(const WString&)>& isReparsePoint);
