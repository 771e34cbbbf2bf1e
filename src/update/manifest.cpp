#include "update/manifest.h"

#include <set>

#include "update/update_engine.h"

namespace {

constexpr std::string_view kAllowedFolders[] = {"Globals/",  "Imgs/",    "Interf/",
                                                "ScenData/", "Scripts/", "Templates/"};

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

bool isHexText(std::string_view text, size_t length) {
    if (text.size() != length) return false;
    for (char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) return false;
    }
    return true;
}

// Not empty, no "..", no backslash, no colon, no leading "/", no control byte, and every
// "/"-separated component non-empty and not starting with ".".
bool isSafeRelativePath(std::string_view path) {
    if (path.empty()) return false;
    if (path.find("..") != std::string_view::npos) return false;
    if (path.find('\\') != std::string_view::npos) return false;
    if (path.find(':') != std::string_view::npos) return false;
    if (path.front() == '/') return false;
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string_view component =
            path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (component.empty() || component.front() == '.') return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

std::optional<ManifestEntry> parseLine(std::string_view line) {
    std::string_view fields[5];
    size_t count = 0;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        const std::string_view field =
            line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (count < 5) fields[count] = field;
        ++count;
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (count != 5) return std::nullopt;

    ManifestEntry entry;
    if (!isSafeGamePath(fields[0])) return std::nullopt;
    const auto size = parseManifestNumber(fields[1], true);
    const auto packedSize = parseManifestNumber(fields[2], false);
    if (!size || !packedSize) return std::nullopt;
    if (!isHexText(fields[3], 8) || !isHexText(fields[4], 64)) return std::nullopt;

    entry.path = std::string(fields[0]);
    entry.size = *size;
    entry.packedSize = *packedSize;
    entry.crc32 = std::string(fields[3]);
    for (char& c : entry.crc32) {
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
    entry.sha256 = std::string(fields[4]);
    return entry;
}

// Updating a file X writes its compressed copy X.gz and its unpacked copy X.new beside it. A listed
// X.gz or X.new would be overwritten, truncated or renamed away by the update of X while the run
// still reported success, so a text that lists both is rejected. The paths are compared as the
// duplicate check compares them (ASCII letters folded), because Windows ignores their case.
bool listsTemporaryCopyOfAnother(const std::set<std::string>& lowerCasePaths) {
    for (const std::string& path : lowerCasePaths) {
        for (std::string_view suffix : {std::string_view(".gz"), std::string_view(".new")}) {
            if (path.size() <= suffix.size() ||
                path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
                continue;
            }
            if (lowerCasePaths.count(path.substr(0, path.size() - suffix.size())) != 0) return true;
        }
    }
    return false;
}

// Parses the whole text; calls `accepted` with each entry's size as it is appended.
template <typename OnEntry>
FileManifest parseLines(std::string_view text, OnEntry accepted) {
    FileManifest manifest;
    std::set<std::string> lowerCasePaths;
    size_t start = 0;
    while (start < text.size()) {
        const std::string_view line = nextListLine(text, start);
        if (line.empty()) continue;

        std::optional<ManifestEntry> entry = parseLine(line);
        if (!entry) return {};
        std::string lower = entry->path;
        for (char& c : lower) c = asciiLower(c);
        if (!lowerCasePaths.insert(std::move(lower)).second) return {};
        manifest.push_back(std::move(*entry));
        accepted(manifest.back().size);
    }
    if (listsTemporaryCopyOfAnother(lowerCasePaths)) return {};
    return manifest;
}

}  // namespace

std::string_view nextListLine(std::string_view text, size_t& start) {
    const size_t feed = text.find('\n', start);
    std::string_view line =
        text.substr(start, feed == std::string_view::npos ? std::string_view::npos : feed - start);
    start = feed == std::string_view::npos ? text.size() : feed + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // one CR only
    return line;
}

bool isSafeGamePath(std::string_view path) { return isSafeRelativePath(path) && isAllowedGamePath(path); }

bool isAllowedGamePath(std::string_view path) {
    if (equalsIgnoringAsciiCase(path, "mss32.dll")) return true;
    for (std::string_view prefix : kAllowedFolders) {
        if (path.size() > prefix.size() && equalsIgnoringAsciiCase(path.substr(0, prefix.size()), prefix)) {
            return true;
        }
    }
    return false;
}

std::optional<int32_t> parseManifestNumber(std::string_view field, bool allowZero) {
    if (field.empty()) return std::nullopt;
    int64_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return std::nullopt;
    }
    if (value == 0 && !allowZero) return std::nullopt;
    return static_cast<int32_t>(value);
}

FileManifest parseManifest(std::string_view text, UpdateEngine& engine) {
    engine.bytesDone.store(0);
    engine.bytesTotal.store(0);
    // A release may pass 2 GiB in all; the total then stays at the largest value instead of
    // wrapping round to a negative one.
    FileManifest manifest =
        parseLines(text, [&engine](int32_t size) { addSaturating(engine.bytesTotal, size); });
    // A rejected text leaves no partial total behind either.
    if (manifest.empty()) engine.bytesTotal.store(0);
    return manifest;
}

FileManifest parseManifestText(std::string_view text) {
    return parseLines(text, [](int32_t) {});
}
