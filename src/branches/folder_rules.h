#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/wstring.h"

// The text rules of the branch folder tests; the file system side is in folder_checks_win.h.

// What a complete game installation holds, in the order the completeness list names them.
inline constexpr int kRequiredGameFileCount = 3;
inline constexpr const wchar_t* kRequiredGameFiles[kRequiredGameFileCount] = {L"Tharnvl2.exe", L"binkw32.dll",
                                                                              L"gameinfo.dat"};
// Each must hold at least one entry.
inline constexpr int kRequiredGameFolderCount = 9;
inline constexpr const wchar_t* kRequiredGameFolders[kRequiredGameFolderCount] = {
    L"Imgs", L"ImgData", L"Music", L"Sounds", L"Video", L"Scens", L"ScenData", L"Campaign", L"Briefing"};

// Version-control metadata that marks a working tree, in test order.
inline constexpr int kRepositoryMetadataCount = 3;
inline constexpr const wchar_t* kRepositoryMetadataNames[kRepositoryMetadataCount] = {L".git", L".hg",
                                                                                      L".svn"};

// A-Z become a-z; every other character stays (no locale-dependent folding).
[[nodiscard]] WString lowerAsciiLetters(WString text);

// The character rules of folder comparison: "/" becomes "\", A-Z become a-z, and trailing "\" and
// blanks are cut.
[[nodiscard]] WString normalizeFolderText(WString path);

// A non-empty path made of nothing but "\", "/" and blanks names no real folder. Such a path must
// never pass as a folder of its own: it counts as the same folder as any other.
[[nodiscard]] bool isBlankFolderPath(const WString& path);

// Appends one item to a completeness list: ", " before every item but the first.
void appendListItem(WString& list, const wchar_t* item, const wchar_t* suffix = L"");

// The install marker's bytes for a branch identifier (UTF-8): two lines ended by LF, nothing else.
[[nodiscard]] std::string installMarkerText(std::string_view identifierUtf8);

// One line of an install marker (without its line feed). Empty when the line does not decide;
// otherwise whether its "channel=" value names a branch other than `identifierUtf8`.
[[nodiscard]] std::optional<bool> markerLineNamesOtherBranch(std::string_view line,
                                                             std::string_view identifierUtf8);
