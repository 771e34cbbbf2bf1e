// libFuzzer target: whatever the manifest parser accepts must satisfy every rule of a manifest.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "update/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const FileManifest manifest = parseManifestText(text);
    std::set<std::string> lowerPaths;
    for (const ManifestEntry& entry : manifest) {
        const std::string& path = entry.path;
        if (!isAllowedGamePath(path)) __builtin_trap();
        if (path.find("..") != std::string::npos || path.find('\\') != std::string::npos ||
            path.find(':') != std::string::npos || path.front() == '/' ||
            path.find("//") != std::string::npos || path.find("/.") != std::string::npos ||
            path.back() == '/') {
            __builtin_trap();
        }
        for (char c : path) {
            if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();
        }
        if (entry.size < 0 || entry.packedSize < 1 || entry.crc32.size() != 8 || entry.sha256.size() != 64) {
            __builtin_trap();
        }
        std::string lower = path;
        for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        if (!lowerPaths.insert(lower).second) __builtin_trap();
    }
    return 0;
}
