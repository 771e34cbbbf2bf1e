#pragma once

#include "base/wstring.h"

// The folder part of an executable path: everything before the last "\" or "/", no trailing
// separator; a path without either separator is returned whole.
[[nodiscard]] WString folderOfPath(const WString& path);
