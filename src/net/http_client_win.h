#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/wstring.h"

// The launcher's only way to the network: synchronous GET requests over WinHTTP, into memory or
// into a file. Each calling thread has its own session and keeps one connection to the last
// server it talked to. The client produces no messages; callers turn failures into texts.

struct UrlParts {
    WString host;  // at most 255 characters
    WString path;  // with the query string, at most 2047 characters
    uint16_t port = 0;
    bool secure = false;  // https
};

// Why one download attempt failed: Network is worth retrying, LocalFile is not.
enum class DownloadFailure { None, Network, LocalFile };

// The URL is ASCII; each byte becomes one UTF-16 unit. Only http and https are accepted.
[[nodiscard]] std::optional<UrlParts> crackUrl(const std::string& url);

// The whole body of a 200 response into `body`. `statusOut`, when given, always receives the
// status read (0 when no response arrived). `body` is cleared only once the request is open.
[[nodiscard]] bool fetchToMemory(const std::string& url, std::string& body, uint32_t* statusOut = nullptr);

// Downloads into the file `path` with up to three attempts. `fileBytes` receives the bytes of the
// current attempt, `totalBytes` grows by every chunk and loses what a failed attempt had added.
// `lastFailure`, when given, receives the kind of the last failed attempt.
[[nodiscard]] bool downloadToFile(const std::string& url, const WString& path,
                                  std::atomic<int32_t>* fileBytes = nullptr,
                                  std::atomic<int32_t>* totalBytes = nullptr,
                                  DownloadFailure* lastFailure = nullptr);

// Creates every missing folder on the way to the parent folder of `path`.
[[nodiscard]] bool createParentFolders(const WString& path);
