// File downloads with retries and resumption, and the folders they need.
#include <windows.h>

#include <winhttp.h>

#include <vector>

#include "base/handles_win.h"
#include "base/saturating.h"
#include "net/content_range.h"
#include "net/http_body_win.h"
#include "net/http_client_win.h"

namespace {

// The copy on disk as one download sees it.
struct CopyState {
    uint64_t onDisk = 0;  // bytes at the start of the copy that belong to the object
    int64_t counted = 0;  // what this download has added to the running total
};

WString notePath(const WString& path) { return path + kObjectNoteSuffix; }

// Starts a copy from byte 0. With an object, its note goes first and comes back once the copy is
// empty, so that a note never names an object whose bytes the copy does not hold; a note that
// cannot be written only costs the resumption in a later run.
UniqueKernelHandle startCopy(const WString& path, const ResumableObject* object) {
    if (object) DeleteFileW(notePath(path).c_str());
    UniqueKernelHandle file = createFileForWriting(path);
    if (file && object) {
        const UniqueKernelHandle note(CreateFileW(notePath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (note) {
            (void)WriteFile(note.get(), object->identity.data(), static_cast<DWORD>(object->identity.size()),
                            &written, nullptr);
        }
    }
    return file;
}

// The copy opened to go on after its first `onDisk` bytes.
UniqueKernelHandle continueCopy(const WString& path, uint64_t onDisk) {
    UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(onDisk);
    if (file && (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))) {
        file.reset();
    }
    return file;
}

// The bytes of a copy that an earlier run left of this very object: 0 unless its note names the
// object and the copy is shorter than the object.
uint64_t copyLeftBefore(const WString& path, const ResumableObject& object, uint64_t maxBytes) {
    const UniqueKernelHandle note(CreateFileW(notePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!note) return 0;
    std::string identity(object.identity.size() + 1, '\0');
    DWORD read = 0;
    if (!ReadFile(note.get(), identity.data(), static_cast<DWORD>(identity.size()), &read, nullptr) ||
        read != object.identity.size() || identity.compare(0, read, object.identity) != 0) {
        return 0;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    const uint64_t size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    if (size == 0 || size > maxBytes || (object.size != 0 && size >= object.size)) return 0;
    return size;
}

// Why the answer to a request for the rest of a copy of `onDisk` bytes cannot continue it; nullptr
// when it can. For a 206 only.
const char* rangeMismatch(HINTERNET request, uint64_t onDisk, uint64_t expectedSize) {
    wchar_t text[128] = {};
    DWORD size = sizeof text - sizeof text[0];
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return "HTTP 206 without a Content-Range";
    }
    // A header of ASCII digits and words: whatever is not ASCII makes it unreadable.
    std::string narrow;
    for (const wchar_t* c = text; *c; ++c) narrow += *c < 0x80 ? static_cast<char>(*c) : '?';
    const std::optional<ContentRange> range = parseContentRange(narrow);
    if (!range || !continuesCopy(*range, onDisk, expectedSize)) return "HTTP 206 for another range";
    return nullptr;
}

// The whole count of a copy goes: the next bytes start it again from byte 0.
void uncount(CopyState& copy, std::atomic<int32_t>* fileBytes, std::atomic<int32_t>* totalBytes) {
    if (totalBytes) addSaturating(*totalBytes, -copy.counted);
    if (fileBytes) fileBytes->exchange(0);
    copy = CopyState{};
}

// One attempt: from byte 0, or for the rest of the copy when `object` is given and the copy holds
// bytes already. `copy` follows the bytes on disk block by block, so a failure leaves it true.
DownloadFailure attempt(const std::string& url, const WString& path, int32_t& attemptBytes,
                        std::atomic<int32_t>* fileBytes, std::atomic<int32_t>* totalBytes, uint64_t maxBytes,
                        ResumableObject* object, CopyState& copy) {
    attemptBytes = 0;
    HttpRequest request;
    bool continuing = false;
    if (object && copy.onDisk > 0) {
        if (!openGetFrom(url, copy.onDisk, request)) return DownloadFailure::Network;
        const uint32_t status = request.statusCode;
        const char* restart = nullptr;
        if (status == 206) {
            restart = rangeMismatch(request.handle.get(), copy.onDisk, object->size);
        } else if (status == 200) {
            restart = "HTTP 200 to a range request";
        } else if (status == 416) {
            restart = "HTTP 416 to a range request";
        } else {
            return DownloadFailure::Network;
        }
        continuing = restart == nullptr;
        if (restart) {
            ++object->restarts;
            object->restartReason = restart;
            object->resumed = false;
            uncount(copy, fileBytes, totalBytes);
            // A 200 brings the whole object; anything else is asked for again as a whole.
            if (status != 200) {
                request.handle.reset();
                resetConnection();
                if (!openGet(url, request)) return DownloadFailure::Network;
            }
        } else {
            ++object->resumedAttempts;
            object->resumed = true;
        }
    } else if (!openGet(url, request)) {
        return DownloadFailure::Network;
    }
    TransferOutcome& outcome = currentTransferOutcome();
    UniqueKernelHandle file = continuing ? continueCopy(path, copy.onDisk) : startCopy(path, object);
    if (!file) {
        outcome.error = GetLastError();
        return DownloadFailure::LocalFile;
    }
    if (!continuing) copy.onDisk = 0;

    // A read, stall or length failure leaves an unread rest on the connection: drop it, so that
    // the next attempt starts on a fresh one.
    const auto networkFailure = [&request, &outcome](const char* problem) {
        if (problem) outcome.problem = problem;
        request.handle.reset();
        resetConnection();
        return DownloadFailure::Network;
    };
    // More than the signed metadata announced can only be a broken or hostile server: nothing of
    // what it sent is worth going on from.
    const auto tooLarge = [&] {
        if (object) {
            DeleteFileW(notePath(path).c_str());
            uncount(copy, fileBytes, totalBytes);
        }
        return networkFailure("body larger than expected");
    };
    const uint64_t before = copy.onDisk;
    const std::optional<uint64_t> announced = announcedBodyLength(request.handle.get());
    if (announced && *announced > maxBytes - before) return tooLarge();
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
        if (got > maxBytes - before - received) return tooLarge();
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got) {
            outcome.error = GetLastError();
            return DownloadFailure::LocalFile;
        }
        received += got;
        copy.onDisk = before + received;
        copy.counted += got;
        // The counters are 32 bits wide: past 2 GiB they stay at the largest value.
        attemptBytes = sumSaturating(attemptBytes, got);
        if (fileBytes) fileBytes->exchange(sumSaturating(0, static_cast<int64_t>(copy.onDisk)));
        if (totalBytes) addSaturating(*totalBytes, got);
        const ULONGLONG now = GetTickCount64();
        if (now - lastChunk > stallLimitMs) return networkFailure("stalled");
        lastChunk = now;
    }
    // A connection closed before the announced length ends the body like a complete one.
    if (announced && received != *announced) return networkFailure("body cut short");
    return DownloadFailure::None;
}

}  // namespace

DownloadFailure downloadAttempt(const std::string& url, const WString& path, int32_t& attemptBytes,
                                std::atomic<int32_t>* fileBytes, std::atomic<int32_t>* totalBytes,
                                uint64_t maxBytes) {
    CopyState copy;
    return attempt(url, path, attemptBytes, fileBytes, totalBytes, maxBytes, nullptr, copy);
}

bool downloadToFile(const std::string& url, const WString& path, std::atomic<int32_t>* fileBytes,
                    std::atomic<int32_t>* totalBytes, DownloadFailure* lastFailure, uint64_t maxBytes,
                    ResumableObject* object) {
    const HttpTimings timings = httpTimings();
    CopyState copy;
    if (object && object->fromZero) DeleteFileW(notePath(path).c_str());
    if (object && !object->fromZero) {
        copy.onDisk = copyLeftBefore(path, *object, maxBytes);
        object->foundOnDisk = copy.onDisk;
        // Those bytes are part of what this run has of the object.
        copy.counted = static_cast<int64_t>(copy.onDisk);
        if (fileBytes) fileBytes->exchange(sumSaturating(0, copy.counted));
        if (totalBytes) addSaturating(*totalBytes, copy.counted);
    }
    for (int number = 0; number < kDownloadAttempts; ++number) {
        if (number > 0) Sleep(timings.retryPauseMs[number - 1]);
        int32_t attemptBytes = 0;
        const DownloadFailure failure =
            attempt(url, path, attemptBytes, fileBytes, totalBytes, maxBytes, object, copy);
        if (lastFailure) *lastFailure = failure;
        if (failure == DownloadFailure::None) {
            // Complete: nothing is left to resume.
            if (object) DeleteFileW(notePath(path).c_str());
            return true;
        }
        if (failure == DownloadFailure::LocalFile) return false;
        // Only what survives counts: without an object the next attempt starts again from byte 0.
        if (!object) uncount(copy, fileBytes, totalBytes);
    }
    // The copy and its note stay for a later run; this run has nothing of the object.
    if (object) object->kept = copy.onDisk;
    uncount(copy, fileBytes, totalBytes);
    return false;
}

void discardCopy(const WString& path) {
    DeleteFileW(notePath(path).c_str());
    DeleteFileW(path.c_str());
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
