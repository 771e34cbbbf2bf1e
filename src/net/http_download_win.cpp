// File downloads with retries, and the folders they need.
#include <windows.h>

#include <winhttp.h>

#include <vector>

#include "base/handles_win.h"
#include "base/saturating.h"
#include "net/http_body_win.h"
#include "net/http_client_win.h"

DownloadFailure downloadAttempt(const std::string& url, const WString& path, int32_t& attemptBytes,
                                std::atomic<int32_t>* fileBytes, std::atomic<int32_t>* totalBytes,
                                uint64_t maxBytes) {
    attemptBytes = 0;
    HttpRequest request;
    if (!openGet(url, request)) return DownloadFailure::Network;
    TransferOutcome& outcome = currentTransferOutcome();
    UniqueKernelHandle file = createFileForWriting(path);
    if (!file) {
        outcome.error = GetLastError();
        return DownloadFailure::LocalFile;
    }

    // A read, stall or length failure leaves an unread rest on the connection: drop it, so that
    // the next attempt starts on a fresh one.
    const auto networkFailure = [&request, &outcome](const char* problem) {
        if (problem) outcome.problem = problem;
        request.handle.reset();
        resetConnection();
        return DownloadFailure::Network;
    };
    const std::optional<uint64_t> announced = announcedBodyLength(request.handle.get());
    // More than the signed metadata announced can only be a broken or hostile server.
    if (announced && *announced > maxBytes) return networkFailure("body larger than expected");
    const uint32_t stallLimitMs = httpTimings().stallLimitMs;
    std::vector<char> buffer(kReadBufferBytes, 0);
    uint64_t received = 0;
    // A monotonic clock, so that a change of the system time neither fakes nor hides a stall.
    ULONGLONG lastChunk = GetTickCount64();
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.handle.get(), buffer.data(), kReadBufferBytes, &got)) {
            outcome.error = GetLastError();
            return networkFailure(nullptr);
        }
        if (got == 0) break;
        if (got > maxBytes - received) return networkFailure("body larger than expected");
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got) {
            outcome.error = GetLastError();
            return DownloadFailure::LocalFile;
        }
        received += got;
        // The counters are 32 bits wide: past 2 GiB they stay at the largest value.
        attemptBytes = sumSaturating(attemptBytes, got);
        if (fileBytes) fileBytes->exchange(attemptBytes);
        if (totalBytes) addSaturating(*totalBytes, got);
        const ULONGLONG now = GetTickCount64();
        if (now - lastChunk > stallLimitMs) return networkFailure("stalled");
        lastChunk = now;
    }
    // A connection closed before the announced length ends the body like a complete one.
    if (announced && received != *announced) return networkFailure("body cut short");
    return DownloadFailure::None;
}

bool downloadToFile(const std::string& url, const WString& path, std::atomic<int32_t>* fileBytes,
                    std::atomic<int32_t>* totalBytes, DownloadFailure* lastFailure, uint64_t maxBytes) {
    const HttpTimings timings = httpTimings();
    for (int attempt = 0; attempt < kDownloadAttempts; ++attempt) {
        if (attempt > 0) Sleep(timings.retryPauseMs[attempt - 1]);
        int32_t attemptBytes = 0;
        const DownloadFailure failure =
            downloadAttempt(url, path, attemptBytes, fileBytes, totalBytes, maxBytes);
        if (lastFailure) *lastFailure = failure;
        if (failure == DownloadFailure::None) return true;
        if (failure == DownloadFailure::LocalFile) return false;
        // Only what survives counts: the next attempt starts again from byte 0.
        if (totalBytes) addSaturating(*totalBytes, -static_cast<int64_t>(attemptBytes));
        if (fileBytes) fileBytes->exchange(0);
    }
    return false;
}

UniqueKernelHandle createFileForWriting(const WString& path) {
    const auto create = [&path] {
        return UniqueKernelHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    UniqueKernelHandle file = create();
    if (file || GetLastError() != ERROR_PATH_NOT_FOUND) return file;
    // The result shows in the second attempt: a folder still missing makes it fail.
    (void)createParentFolders(path);
    return create();
}

bool createParentFolders(const WString& path) {
    const size_t parentEnd = path.find_last_of(L"\\/");
    if (parentEnd == WString::npos || parentEnd == 0) return true;
    // A separator at index 0 never ends a folder name.
    for (size_t separator = path.find_first_of(L"\\/", 1); separator != WString::npos;
         separator = path.find_first_of(L"\\/", separator + 1)) {
        const WString folder = path.substr(0, separator);
        if (!CreateDirectoryW(folder.c_str(), nullptr)) {
            const DWORD error = GetLastError();
            // A drive root such as "C:" reports one of these.
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) return false;
        }
        if (separator >= parentEnd) break;
    }
    return true;
}
