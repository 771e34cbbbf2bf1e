#pragma once

#include <string>
#include <string_view>
#include <vector>

// The text side of the uninstall: which lines of the uninstall list may be deleted, and which
// folders a deleted path leaves to be tried.

// The lines of the list's bytes, split at LF; one trailing CR is cut from each. A last line without
// LF counts; the empty text after a final LF does not.
[[nodiscard]] std::vector<std::string> splitUninstallList(std::string_view bytes);

// True when a list line may be deleted: relative, "/"-separated, no empty component, no component
// starting with ".", no "..", "\", ":" or control character, and inside the game's own folders
// (or "mss32.dll" in the root). The link test is the caller's.
[[nodiscard]] bool isSafeUninstallPath(std::string_view pathUtf8);

// The folder prefixes of a path, innermost first: "a/b/c" gives "a/b", "a".
[[nodiscard]] std::vector<std::string> enclosingFoldersInnermostFirst(std::string_view pathUtf8);
