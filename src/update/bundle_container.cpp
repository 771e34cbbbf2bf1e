#include "update/bundle_container.h"

#include <algorithm>

BundleHeaderRead readBundleHeader(std::FILE* container, BundleRecordHeader& header) {
    std::string line;
    int c = 0;
    while ((c = std::getc(container)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (line.empty()) return BundleHeaderRead::End;

    const size_t tab = line.find('\t');
    if (tab == std::string::npos) return BundleHeaderRead::Malformed;
    const std::optional<int32_t> length = parseBundleLength(std::string_view(line).substr(tab + 1));
    if (!length) return BundleHeaderRead::Malformed;
    header.name = line.substr(0, tab);
    header.length = *length;
    return BundleHeaderRead::Record;
}

std::optional<int32_t> parseBundleLength(std::string_view text) {
    if (text.empty()) return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

bool skipBundleContent(std::FILE* container, int32_t length) {
    // 64-bit offsets: the container itself may be larger than 2 GiB.
#ifdef _WIN32
    return _fseeki64(container, length, SEEK_CUR) == 0;
#else
    return fseeko(container, length, SEEK_CUR) == 0;
#endif
}

BundleCopyResult copyBundleContent(std::FILE* container, int32_t length, std::FILE* out, char* buffer,
                                   size_t bufferSize) {
    BundleCopyResult result{true, out != nullptr};
    size_t remaining = static_cast<size_t>(length);
    while (remaining > 0) {
        const size_t got = std::fread(buffer, 1, std::min(remaining, bufferSize), container);
        if (got == 0) {
            result.complete = false;
            break;
        }
        if (result.written && std::fwrite(buffer, 1, got, out) != got) result.written = false;
        remaining -= got;
    }
    return result;
}
