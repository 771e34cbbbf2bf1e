#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/wstring.h"

// The run log: launcher.log in the launcher's folder, one UTF-8 line per event with its UTC time
// and thread, so that a mod team can find out why an update failed on a player's machine. The
// player never sees it. Any thread may write; each line goes out whole in one write. Logging never
// throws, holds a caller only for the write of one other line, and never stops the program: a log
// that cannot be opened or written is simply not kept.

inline constexpr wchar_t kRunLogFileName[] = L"launcher.log";
// The previous log, kept once: the folder never grows without limit.
inline constexpr wchar_t kRunLogOldFileName[] = L"launcher.log.1";
// A log larger than this becomes the previous log when the launcher that goes on running starts.
inline constexpr uint64_t kRunLogRotateBytes = 1024 * 1024;

// The moment of a line, UTC.
struct LogTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Longest prefix that formatLogPrefix writes, terminator included.
inline constexpr size_t kLogPrefixCapacity = 48;

// "2024-06-11T09:15:02.347Z [1234] " into `out` (at least kLogPrefixCapacity bytes, no heap use,
// so the crash handler can call it); returns its length.
size_t formatLogPrefix(char* out, const LogTime& time, uint32_t threadId) noexcept;

// The whole line: prefix, text and CR LF. Line breaks inside the text become "\n" and "\r" and
// other control characters "?", so one event is always one line.
[[nodiscard]] std::string formatLogLine(const LogTime& time, uint32_t threadId, std::string_view text);

// Start-up: opens the log in `folder` for appending. False when no log can be kept there (a
// read-only folder); the program then runs exactly as it would without one. Closes a log opened
// before. It does not move a large log aside: another launcher may be writing it (the first one,
// when this start only brings its window forward; the old one, during a self-update), whose later
// lines would then land in the previous log, and a second move would have to replace a previous
// log that is still open, which fails.
bool openRunLog(const WString& folder) noexcept;

// Moves a log larger than kRunLogRotateBytes aside as the previous log (replacing it) and goes on
// in a fresh one. Only the launcher that goes on running calls it, once it owns the instance
// mutex (no other launcher writes the log then). Nothing when no log is open.
void rotateRunLog() noexcept;
// Tests only: stops writing the log that openRunLog opened.
void closeRunLog() noexcept;

// Every line also goes to this function, whole and in order (the headless update tool's standard
// error); nullptr for none. Called with the logger's lock held: it must not log itself.
using RunLogMirror = void (*)(std::string_view line);
void setRunLogMirror(RunLogMirror mirror) noexcept;

// Whether lines go anywhere, so that a caller may skip composing one that nobody reads.
[[nodiscard]] bool runLogActive() noexcept;

// Appends one line (UTF-8 text). Any thread.
void logLine(std::string_view text) noexcept;

// The crash handler's line: no heap use, and the lock is waited for only briefly, since the
// crashed thread may hold it. `text` is plain ASCII.
void logLineWhileCrashing(const char* text) noexcept;
