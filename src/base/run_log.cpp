#include "base/run_log.h"

#include <cstdio>

size_t formatLogPrefix(char* out, const LogTime& time, uint32_t threadId) noexcept {
    const int length = std::snprintf(out, kLogPrefixCapacity, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ [%lu] ",
                                     time.year, time.month, time.day, time.hour, time.minute, time.second,
                                     time.millisecond, static_cast<unsigned long>(threadId));
    if (length < 0) return 0;
    return static_cast<size_t>(length) < kLogPrefixCapacity ? static_cast<size_t>(length)
                                                            : kLogPrefixCapacity - 1;
}

std::string formatLogLine(const LogTime& time, uint32_t threadId, std::string_view text) {
    char prefix[kLogPrefixCapacity];
    std::string line(prefix, formatLogPrefix(prefix, time, threadId));
    line.reserve(line.size() + text.size() + 2);
    for (const char c : text) {
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            line += '?';
        } else {
            line += c;
        }
    }
    line += "\r\n";
    return line;
}
