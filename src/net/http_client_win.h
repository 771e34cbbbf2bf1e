#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "base/handles_win.h"
#include "base/wstring.h"
#include "net/transfer_outcome.h"
#include "net/winhttp_handle_win.h"

// The launcher's only way to the network: synchronous GET requests over WinHTTP, into memory or
// into a file. Each calling thread has its own session and keeps one connection to the last
// server it talked to. The client produces no messages; callers turn failures into texts.

struct UrlParts {
    WString host;  // at most 255 characters
    WString path;  // with the query string, at most 2047 characters
    uint16_t port = 0;
    bool secure = false;  // https
};

// One open GET request; the handle closes with the record.
struct HttpRequest {
    UniqueInternetHandle handle;
    uint32_t statusCode = 0;  // 0 until a response header has been read
};

// Why one download attempt failed: Network is worth retrying, LocalFile is not.
enum class DownloadFailure { None, Network, LocalFile };

inline constexpr wchar_t kHttpUserAgent[] = L"VarnholdLauncher/1.0";
inline constexpr uint32_t kReadBufferBytes = 65536;
inline constexpr int kDownloadAttempts = 3;
// No limit on the size of a download.
inline constexpr uint64_t kNoByteLimit = UINT64_MAX;
// A body held in memory is at most this large (server texts are a few kilobytes): a broken or
// hostile server must not be able to exhaust the address space of the 32-bit process.
inline constexpr uint32_t kMaxFetchBodyBytes = 64u * 1024 * 1024;

// Time limits of every session and of file downloads.
struct HttpTimings {
    int resolveTimeoutMs = 15000;
    int connectTimeoutMs = 15000;
    int sendTimeoutMs = 30000;
    int receiveTimeoutMs = 30000;
    uint32_t stallLimitMs = 60000;  // between two successive blocks of a file download
    uint32_t retryPauseMs[kDownloadAttempts - 1] = {1000, 3000};  // before the 2nd and 3rd attempt
};

// The limits in force. The launcher never changes them.
[[nodiscard]] HttpTimings httpTimings();
// Tests only: shorter limits so that stalls and retries run in fractions of a second. Sessions
// that are already open take the new time-outs with their next request.
void setHttpTimingsForTests(const HttpTimings& timings);

// Tests only: the Windows that the client behaves as where Wine cannot be that Windows, and a fresh
// start of the proxy discovery (the settings are read again, every server's route found anew).
// - Windows7: the launcher finds each server's proxy from the user's settings itself (as under
//   Wine, whose automatic proxy ignores them); every new session starts with what Windows 7 SP1
//   offers by itself (SSL 3.0 and TLS 1.0 only) and refuses the TLS 1.3 flag, as that system does.
// - Windows81: sessions use the system's automatic proxy. Wine accepts it but connects directly.
// - Actual: what the running system is (the product).
// Sessions already open are replaced with their next request when their route changes.
enum class WindowsForTests { Actual, Windows7, Windows81 };
void setWindowsForTests(WindowsForTests windows);

// The URL is ASCII; each byte becomes one UTF-16 unit. Only http and https are accepted.
[[nodiscard]] std::optional<UrlParts> crackUrl(const std::string& url);

// Opens a GET request on the calling thread's connection and reads the response header. True only
// for status 200; `request.statusCode` holds whatever status was read.
[[nodiscard]] bool openGet(const std::string& url, HttpRequest& request);

// The same request for the object's bytes from `firstByte` on ("Range: bytes=N-"). True when a
// response header arrived, whatever its status: 206 for the part, 200 from a server that sends the
// whole object instead, or any other.
[[nodiscard]] bool openGetFrom(const std::string& url, uint64_t firstByte, HttpRequest& request);

// The whole body of a 200 response into `body`. `statusOut`, when given, always receives the
// status read (0 when no response arrived). `body` is cleared only once the request is open.
// A body larger than `maxBytes` (at most kMaxFetchBodyBytes) fails and is released; one shorter
// than its announced length fails too.
[[nodiscard]] bool fetchToMemory(const std::string& url, std::string& body, uint32_t* statusOut = nullptr,
                                 uint32_t maxBytes = kMaxFetchBodyBytes);

// One download attempt into the file `path` (created or truncated). `attemptBytes` counts the bytes
// written by this attempt; `fileBytes` is set to it and `totalBytes` grows by every block.
// A body that announces or reaches more than `maxBytes` is a network failure at that point; the
// bytes past the limit are never written.
[[nodiscard]] DownloadFailure downloadAttempt(const std::string& url, const WString& path,
                                              int32_t& attemptBytes, std::atomic<int32_t>* fileBytes,
                                              std::atomic<int32_t>* totalBytes,
                                              uint64_t maxBytes = kNoByteLimit);

// An object that the caller knows by its SHA-256 (its name on the server), for a download that
// resumes: a transfer that breaks off goes on where the copy ends, in the next attempt and, through
// a note beside the copy (the copy's path + kObjectNoteSuffix, holding the identity), in a later
// run, instead of starting again from byte 0. A retry asks for "Range: bytes=N-" with N the bytes
// on disk and takes only a 206 whose Content-Range starts at N, runs to the end and gives the
// object's size (when known); any other answer (200, another range, 416) starts the copy again
// from byte 0. Checking the SHA-256 of the whole copy stays the caller's business.
struct ResumableObject {
    std::string identity;   // the object's SHA-256 as hash text
    uint64_t size = 0;      // its size from signed metadata; 0 when not known
    bool fromZero = false;  // ignore a copy on disk: start from byte 0 (a resumed copy failed its check)
    // What the download did, for the run log and the caller's check.
    uint64_t foundOnDisk = 0;             // bytes of a copy of it that an earlier download left
    int resumedAttempts = 0;              // attempts that went on where the copy ended
    int restarts = 0;                     // answers that made the copy start again from byte 0
    const char* restartReason = nullptr;  // the last of them: "HTTP 200 to a range request", ...
    bool resumed = false;                 // the copy holds bytes from before its last attempt
    uint64_t kept = 0;  // after a failed download: the bytes a later one can go on from (0: none)
};
inline constexpr wchar_t kObjectNoteSuffix[] = L".object";

// Downloads into the file `path` with up to three attempts. `fileBytes` receives the bytes of the
// copy so far, `totalBytes` grows by every chunk and loses what the download had added when the
// copy starts again from byte 0 and when the download fails. `lastFailure`, when given, receives the
// result of the last attempt made (None on success). `maxBytes` is the size the caller knows from
// signed metadata: a server that sends more (an endless body) fails the attempt instead of filling
// the disk. Without `object` every attempt starts from byte 0; with it the download resumes (see
// ResumableObject), the bytes kept from an earlier run count into `totalBytes` at the start, and
// the note goes once the copy is complete.
[[nodiscard]] bool downloadToFile(const std::string& url, const WString& path,
                                  std::atomic<int32_t>* fileBytes = nullptr,
                                  std::atomic<int32_t>* totalBytes = nullptr,
                                  DownloadFailure* lastFailure = nullptr, uint64_t maxBytes = kNoByteLimit,
                                  ResumableObject* object = nullptr);

// Removes a copy and its note (after the copy failed its check, or once it is of no more use).
void discardCopy(const WString& path);

// What the calling thread's last request came to: the status read, or the error or problem that
// ended it. For the run log; keeping it costs no system call.
[[nodiscard]] TransferOutcome lastTransferOutcome();

// Closes the calling thread's connection, so that its next request connects anew.
void resetConnection();

// Creates every missing folder on the way to the parent folder of `path`.
[[nodiscard]] bool createParentFolders(const WString& path);

// A new file for writing (an existing one is truncated), other readers allowed. The folders on the
// way are created only when the first attempt finds one missing: asking for every folder of the
// path before each file would cost a system call per folder, per file.
[[nodiscard]] UniqueKernelHandle createFileForWriting(const WString& path);
