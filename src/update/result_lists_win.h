#pragma once

#include "base/wstring.h"
#include "update/manifest.h"

// Writes every manifest path, each followed by LF, to launcher_unins.ini in the game folder,
// through a ".new" file that replaces the old list in one move. A failure keeps the old list and
// is not reported.
void writeUninstallList(const WString& gameFolder, const FileManifest& manifest);
