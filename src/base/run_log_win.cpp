// The run log's file and the one lock that keeps its lines whole.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "base/handles_win.h"
#include "base/run_log.h"

namespace {

// The crash handler waits this long for a writer that holds the lock, then writes without it.
constexpr int kCrashLockAttempts = 50;
constexpr DWORD kCrashLockPauseMs = 10;

struct RunLogState {
    std::mutex lock;
    UniqueKernelHandle file;  // open until the process ends
    WString path;             // of the open log
    std::atomic<RunLogMirror> mirror{nullptr};
    std::atomic<bool> active{false};
};

// Never destroyed: a thread may still log while static destructors run at exit.
RunLogState& state() {
    static RunLogState* const instance = new RunLogState;
    return *instance;
}

LogTime nowUtc() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return LogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void refreshActive(RunLogState& log) { log.active.store(log.file || log.mirror.load() != nullptr); }

// A failed write (disk full) loses the line and nothing else.
void writeLocked(RunLogState& log, const char* bytes, size_t size) {
    if (log.file) {
        DWORD written = 0;
        (void)WriteFile(log.file.get(), bytes, static_cast<DWORD>(size), &written, nullptr);
    }
    if (const RunLogMirror mirror = log.mirror.load()) mirror(std::string_view(bytes, size));
}

// Append-only access: every write lands at the end, also when another launcher process (the other
// side of a self-update) writes the same file. Deleting and renaming stay allowed, so that the
// launcher that goes on running can move it aside while another one still has it open.
UniqueKernelHandle openForAppending(const WString& path) {
    return UniqueKernelHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

bool openRunLog(const WString& folder) noexcept {
    try {
        WString path = folder + L"/" + kRunLogFileName;
        UniqueKernelHandle file = openForAppending(path);
        const bool opened = static_cast<bool>(file);
        RunLogState& log = state();
        std::lock_guard<std::mutex> guard(log.lock);
        log.file = std::move(file);
        log.path = opened ? std::move(path) : WString();
        refreshActive(log);
        return opened;
    } catch (...) {
        return false;
    }
}

void rotateRunLog() noexcept {
    try {
        RunLogState& log = state();
        std::lock_guard<std::mutex> guard(log.lock);
        if (!log.file) return;
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(log.file.get(), &size) ||
            static_cast<uint64_t>(size.QuadPart) <= kRunLogRotateBytes)
            return;
        const WString old = log.path + L".1";
        log.file.reset();
        (void)MoveFileExW(log.path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING);
        log.file = openForAppending(log.path);
        refreshActive(log);
    } catch (...) {
        // No memory for the path: the log goes on where it is.
    }
}

void closeRunLog() noexcept {
    RunLogState& log = state();
    std::lock_guard<std::mutex> guard(log.lock);
    log.file.reset();
    refreshActive(log);
}

void setRunLogMirror(RunLogMirror mirror) noexcept {
    RunLogState& log = state();
    std::lock_guard<std::mutex> guard(log.lock);
    log.mirror.store(mirror);
    refreshActive(log);
}

bool runLogActive() noexcept { return state().active.load(); }

void logLine(std::string_view text) noexcept {
    RunLogState& log = state();
    if (!log.active.load()) return;
    try {
        std::lock_guard<std::mutex> guard(log.lock);
        // The time is taken under the lock, so the lines of all threads stand in time order.
        const std::string line = formatLogLine(nowUtc(), GetCurrentThreadId(), text);
        writeLocked(log, line.data(), line.size());
    } catch (...) {
        // No memory for the line: it is lost, the program goes on.
    }
}

void logLineWhileCrashing(const char* text) noexcept {
    RunLogState& log = state();
    if (!log.active.load()) return;
    char line[1024];
    size_t length = formatLogPrefix(line, nowUtc(), GetCurrentThreadId());
    const size_t room = sizeof line - length - 2;
    const size_t textLength = strnlen(text, room);
    std::memcpy(line + length, text, textLength);
    length += textLength;
    line[length++] = '\r';
    line[length++] = '\n';
    std::unique_lock<std::mutex> guard(log.lock, std::try_to_lock);
    for (int attempt = 1; !guard.owns_lock() && attempt < kCrashLockAttempts; ++attempt) {
        Sleep(kCrashLockPauseMs);
        (void)guard.try_lock();
    }
    writeLocked(log, line, length);
}
