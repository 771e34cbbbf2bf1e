#pragma once

#include "base/wstring.h"

// Full path of the running launcher executable; empty only if Windows cannot tell it.
[[nodiscard]] WString modulePath();

// The folder of the running executable, where the launcher keeps its own files.
[[nodiscard]] WString launcherFolder();
