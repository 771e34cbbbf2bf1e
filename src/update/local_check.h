#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "base/wstring.h"

// The CRC-32 text of the local check: 8 upper-case hexadecimal digits with leading zeros.
[[nodiscard]] std::string formatCrc32(uint32_t crc);

// What the file system says about one step of a path.
enum class PathKind {
    Absent,      // not there (not found): nothing below it can be there either
    Unreadable,  // there may be something, but it could not be asked about
    Plain,       // there, and no link
    Link,        // a symbolic link, a junction or another reparse point
};

// Folders that one pass over the game folder (the local check, the bundle, the single downloads)
// has found to exist and to be no link. The pass itself only ever creates plain folders and
// replaces files, so a folder proven once is not asked about again in that pass; the next pass
// asks anew. Paths are kept as spelt: another spelling of the same folder is simply asked again.
class LinkFreeFolders {
public:
    [[nodiscard]] bool contains(const WString& folder) const { return folders.count(folder) != 0; }
    void add(const WString& folder) { folders.insert(folder); }

private:
    std::unordered_set<WString> folders;
};

// The walk behind the link rule, with the file system query passed in: `kindOf` is asked about the
// game folder + "\" + each "/"- or "\"-separated component of the relative path in turn, outermost
// first, each once; the game folder itself is never asked about. True as soon as one answer is
// Link. An Absent step ends the walk with false, since nothing can lie below it; an Unreadable one
// does not. A trailing separator ends it too. With `proven`, folders in it are not asked about, and
// every folder found Plain is added; the last step (the file) is always asked. Tests use this seam
// where Wine cannot make the links that Windows has.
[[nodiscard]] bool crossesReparsePointWith(const WString& gameFolder, std::string_view relativePathUtf8,
                                           const std::function<PathKind(const WString&)>& kindOf,
                                           LinkFreeFolders* proven = nullptr);
