#pragma once

#include "base/wstring.h"

// The tests that classify a branch folder. Every failing system call counts as a negative answer
// of its test; none of them reports an error of its own. Safe on any thread: no shared state.

// Whether two paths denote one folder: by file identity (volume serial and file index) when both
// can be opened, otherwise by their normalised text. A path of only separators and blanks counts
// as the same folder as any other non-empty path.
[[nodiscard]] bool isSameFolder(const WString& a, const WString& b);

// The comparison form of a path: full, long-name form, "\" separators, A-Z lower-cased, no
// trailing "\" or blank. Empty for an empty path and for a path of only separators and blanks.
[[nodiscard]] WString normalizeFolderPath(const WString& path);

// True when ".git", ".hg" or ".svn" exists in the folder, as a file or a folder.
[[nodiscard]] bool isWorkTree(const WString& folder);

// The required game items that are missing, joined by ", " (folders with a trailing "\"); empty
// when the folder is complete.
[[nodiscard]] WString listMissingGameItems(const WString& folder);

// Tharnvl2.exe is absent or is a folder.
[[nodiscard]] bool isExeMissing(const WString& folder);

// folder + "\" + name exists and is a file, not a folder.
[[nodiscard]] bool fileExistsIn(const WString& folder, const wchar_t* name);

enum SoundLibraryResult : int { kSoundLibraryPresent = 0, kSoundLibraryRestored = 1, kSoundLibraryLost = 2 };

// Makes sure Mss23.dll is in the folder, restoring it from a mss32.dll that is not a proxy.
[[nodiscard]] int ensureSoundLibrary(const WString& folder);

// The file description of a file's version resource (first translation), A-Z lower-cased; empty
// when there is none.
[[nodiscard]] WString readFileDescription(const WString& path);

// True when the folder's install marker carries a "channel=" value of another branch.
[[nodiscard]] bool markerNamesOtherBranch(const WString& folder, const char* identifierUtf8);

// Writes the install marker that ties the folder to the branch. A failure is silent: the next
// successful update writes it again.
void writeInstallMarker(const WString& folder, const char* identifierUtf8);
