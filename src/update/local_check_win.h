#pragma once

#include <string>
#include <string_view>

#include "app/wstring.h"

// True when any existing folder or file on the way from the game folder to the relative path (the
// game folder itself not included) is a reparse point: a symbolic link, a junction or any other
// kind. No game file is ever read or written through one.
[[nodiscard]] bool crossesReparsePoint(const WString& gameFolder, std::string_view relativePathUtf8);
