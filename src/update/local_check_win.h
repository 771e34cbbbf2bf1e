#pragma once

#include <string>
#include <string_view>

#include "app/wstring.h"

// True when any existing folder or file on the way from the game folder to the relative path (the
// game folder itself not included) is a reparse point: a symbolic link, a junction or any other
// kind. No game file is ever read or written through one.
[[nodiscard]] bool crossesReparsePoint(const WString& gameFolder, std::string_view relativePathUtf8);

// CRC-32 of a file's content as 8 upper-case hexadecimal digits ("00000000" for an empty file), or
// "" when the file cannot be opened.
[[nodiscard]] std::string crc32FileHex(const WString& path);
