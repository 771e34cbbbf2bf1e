#include "update/bundle_container.h"

#include <algorithm>

namespace {

// The length text, taken one character at a time, so that leading zeros cost no memory.
class LengthDigits {
public:
    void add(char c) {
        if (c < '0' || c > '9') {
            bad = true;
            return;
        }
        seen = true;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) {
            bad = true;
            value = 0;
        }
    }
    [[nodiscard]] std::optional<int32_t> result() const {
        if (bad || !seen) return std::nullopt;
        return static_cast<int32_t>(value);
    }

private:
    int64_t value = 0;
    bool seen = false;
    bool bad = false;
};

}  // namespace

BundleHeaderRead readBundleHeader(std::FILE* container, BundleRecordHeader& header) {
    header.name.clear();
    header.nameTooLong = false;
    header.length = 0;
    int c = std::getc(container);
    if (c == EOF || c == '\n') return BundleHeaderRead::End;

    for (; c != EOF && c != '\n' && c != '\t'; c = std::getc(container)) {
        if (header.name.size() < kMaxBundleNameBytes) {
            header.name.push_back(static_cast<char>(c));
        } else {
            header.nameTooLong = true;
        }
    }
    if (c != '\t') return BundleHeaderRead::Malformed;

    LengthDigits digits;
    while ((c = std::getc(container)) != EOF && c != '\n') {
        digits.add(static_cast<char>(c));
    }
    const std::optional<int32_t> length = digits.result();
    if (!length) return BundleHeaderRead::Malformed;
    header.length = *length;
    return BundleHeaderRead::Record;
}

std::optional<int32_t> parseBundleLength(std::string_view text) {
    LengthDigits digits;
    for (char c : text) digits.add(c);
    return digits.result();
}

bool skipBundleContent(std::FILE* container, int32_t length) {
    // 64-bit offsets: the container itself may be larger than 2 GiB.
#ifdef _WIN32
    return _fseeki64(container, length, SEEK_CUR) == 0;
#else
    return fseeko(container, length, SEEK_CUR) == 0;
#endif
}

BundleCopyResult copyBundleContent(std::FILE* container, int32_t length, const BundleSink* sink, char* buffer,
                                   size_t bufferSize) {
    BundleCopyResult result{true, sink != nullptr};
    size_t remaining = static_cast<size_t>(length);
    while (remaining > 0) {
        const size_t got = std::fread(buffer, 1, std::min(remaining, bufferSize), container);
        if (got == 0) {
            result.complete = false;
            break;
        }
        if (result.written && !(*sink)(buffer, got)) result.written = false;
        remaining -= got;
    }
    return result;
}
