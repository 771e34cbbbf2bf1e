#pragma once

#include <string>

#include "base/wstring.h"

// Writes bytes to target + ".new" and moves that over the target with MoveFileExW and
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, so an interrupted write never leaves a
// half-written file. On any failure the ".new" file is removed and the target stays as it was.
[[nodiscard]] bool replaceFileContents(const WString& target, const std::string& bytes);
