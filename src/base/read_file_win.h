#pragma once

#include <optional>
#include <string>

#include "base/wstring.h"

// The whole file as bytes (binary: a CR stays for the line splitter, a stray Ctrl-Z does not end
// the text). Empty when the file cannot be opened or a read fails part-way, so a caller never
// acts on a list cut short.
[[nodiscard]] std::optional<std::string> readWholeFile(const WString& path);
