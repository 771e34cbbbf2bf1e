#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The small-files bundle, once unpacked, is a plain sequence of records: a header line
// "<name>\t<decimal length>\n" followed by exactly that many content bytes. It has no file header,
// no count and no checksum of its own; it ends at the end of the file or at an empty line.

// A record name longer than this can never be a path that Windows opens (32,767 UTF-16 units at
// most, each from at most 3 UTF-8 bytes). Reading keeps no more of a name than this, so a header
// line without an end costs no memory; such a record is still a valid record to skip.
inline constexpr size_t kMaxBundleNameBytes = 131072;

struct BundleRecordHeader {
    std::string name;          // the file's manifest path, matched byte for byte
    bool nameTooLong = false;  // the name passed kMaxBundleNameBytes: `name` is cut, never wanted
    int32_t length = 0;        // content bytes that follow the header
};

enum class BundleHeaderRead {
    Record,     // `header` holds the next record
    End,        // the end of the file or an empty line: the container ends normally
    Malformed,  // no TAB, or a length that is not plain decimal digits within 32 bits
};

// Reads the next header line; the LF is consumed. A Malformed line is left partly read: nothing
// after it can be trusted.
[[nodiscard]] BundleHeaderRead readBundleHeader(std::FILE* container, BundleRecordHeader& header);

// Digits only, at least one (leading zeros allowed), no sign or blank, at most 2147483647. A CR
// before the LF or a second TAB makes the text invalid.
[[nodiscard]] std::optional<int32_t> parseBundleLength(std::string_view text);

// Moves past `length` content bytes without reading them. Seeking past the end of the file is not
// an error here: the next header read then finds the end.
[[nodiscard]] bool skipBundleContent(std::FILE* container, int32_t length);

struct BundleCopyResult {
    bool complete = false;  // every content byte was read (false: the container is cut short)
    bool written = false;   // the sink took every byte read
};

// Where content bytes go, block by block; false when a block could not be written.
using BundleSink = std::function<bool(const char* data, size_t size)>;

// Reads `length` content bytes through `buffer` and hands each block to `sink`. After a block the
// sink refused, or with no sink, the bytes are only read, so that the next header is still found.
[[nodiscard]] BundleCopyResult copyBundleContent(std::FILE* container, int32_t length, const BundleSink* sink,
                                                 char* buffer, size_t bufferSize);
