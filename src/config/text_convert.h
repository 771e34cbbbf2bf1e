#pragma once

#include <string>
#include <string_view>

#include "base/wstring.h"

// The launcher's only two text conversions, at the boundary between UTF-8 bytes (server texts,
// INI text, manifest paths) and UTF-16 (paths, user-visible texts). Invalid UTF-8 comes out with
// the replacement character U+FFFD.
[[nodiscard]] WString utf8ToWide(std::string_view utf8);
[[nodiscard]] std::string wideToUtf8(std::wstring_view wide);
