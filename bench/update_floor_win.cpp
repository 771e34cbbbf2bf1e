// What the standard-tools reference of bench/update_bench.sh does, done with plain Win32 calls under
// Wine: the four release texts and every file's gzip copy over one WinHTTP connection, each copy
// written next to its target, then the SHA-256 of every copy checked, then every copy unpacked
// into its target and deleted. No launcher code takes part beyond the manifest reader and the
// SHA-256 digester, so the time is what Wine needs for these steps at the least: the "floor" that
// tells Wine's share of the update tool's time from the launcher's own.
// With a bundle hash it does the same for the small-files bundle instead: the one gzip copy, its
// SHA-256, unpacked next to the game folder, and every record the manifest lists written straight
// into its file, as an archiver would extract it: the floor of "creating the files".
// With "--rename" each copy is unpacked beside its target and moved over it with MoveFileExW (flags
// 9), as the launcher must replace every file: the floor of the single downloads under that rule.
// usage: update_floor.exe GAME_FOLDER BRANCH_URL VERSION MANIFEST_FILE [BUNDLE_SHA256 | --rename]
//   BRANCH_URL like https://localhost:PORT/patch/small; the texts are BRANCH_URL/latest.txt and .sig,
//   BRANCH_URL/VERSION/checksums.txt and .sig, the objects BRANCH_URL/VERSION/files/<sha256>.gz.
// Prints one line "floor files=N fetch_ms=F hash_ms=H unpack_ms=U elapsed_ms=T" (the three steps and
// the whole, from the connection on); exit code 0 when every file arrived intact.
#include <windows.h>

#include <winhttp.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/handles_win.h"
#include "base/read_file_win.h"
#include "base/unique_handle.h"
#include "config/text_convert.h"
#include "crypto/hex_text.h"
#include "crypto/sha256_digest_win.h"
#include "net/winhttp_handle_win.h"
#include "update/bundle_container.h"
#include "update/manifest.h"

namespace {

constexpr DWORD kBufferBytes = 65536;

struct GzipReaderTraits {
    using Native = gzFile;
    static Native empty() { return nullptr; }
    static bool isValid(Native f) { return f != nullptr; }
    static void close(Native f) { gzclose(f); }
};
using UniqueGzipReader = UniqueHandle<GzipReaderTraits>;

// One session and one kept connection, as curl keeps its connection alive between URLs.
struct Connection {
    UniqueInternetHandle session;
    UniqueInternetHandle connection;
    std::wstring basePath;
    bool secure = false;
};

bool connect(const std::wstring& url, Connection& out) {
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    out.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    out.basePath = path;
    out.session.reset(WinHttpOpen(L"UpdateFloor/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!out.session) return false;
    out.connection.reset(WinHttpConnect(out.session.get(), host, parts.nPort, 0));
    return static_cast<bool>(out.connection);
}

// GET of BRANCH_URL + relative; each block of the body goes to `sink`.
template <typename Sink>
bool fetch(Connection& connection, const std::string& relative, std::vector<char>& buffer, Sink sink) {
    const std::wstring path = connection.basePath + utf8ToWide(relative);
    UniqueInternetHandle request(WinHttpOpenRequest(connection.connection.get(), L"GET", path.c_str(),
                                                    nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                    connection.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
        status != 200) {
        return false;
    }
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), kBufferBytes, &got)) return false;
        if (got == 0) return true;
        if (!sink(buffer.data(), got)) return false;
    }
}

// Every folder on the way to `path` below `root`, as curl --create-dirs makes them.
void createFolders(const std::wstring& root, const std::wstring& relative) {
    for (size_t slash = relative.find(L'/'); slash != std::wstring::npos;
         slash = relative.find(L'/', slash + 1)) {
        CreateDirectoryW((root + L"\\" + relative.substr(0, slash)).c_str(), nullptr);
    }
}

bool download(Connection& connection, const std::string& relative, const std::wstring& path,
              std::vector<char>& buffer) {
    UniqueKernelHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return fetch(connection, relative, buffer, [&file](const char* data, DWORD size) {
        DWORD written = 0;
        return WriteFile(file.get(), data, size, &written, nullptr) && written == size;
    });
}

std::string sha256OfFile(const std::wstring& path, std::vector<char>& buffer) {
    UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    Sha256Digester digester;
    if (!file || !digester.begin()) return {};
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), kBufferBytes, &got, nullptr)) return {};
        if (got == 0) break;
        if (!digester.add(buffer.data(), got)) return {};
    }
    Sha256Digest digest{};
    if (!digester.finish(digest)) return {};
    return lowerHex(digest.data(), digest.size());
}

// Like gzip -d: the content into the target, then the compressed copy removed.
bool unpack(const std::wstring& compressed, const std::wstring& target, std::vector<char>& buffer) {
    UniqueGzipReader reader(gzopen_w(compressed.c_str(), "rb"));
    UniqueKernelHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!reader || !file) return false;
    for (;;) {
        const int got = gzread(reader.get(), buffer.data(), kBufferBytes);
        if (got < 0) return false;
        if (got == 0) break;
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), static_cast<DWORD>(got), &written, nullptr) ||
            written != static_cast<DWORD>(got)) {
            return false;
        }
    }
    if (gzclose(reader.release()) != Z_OK) return false;
    return DeleteFileW(compressed.c_str()) != FALSE;
}

// Every record that the manifest lists, written into its file; the container is then deleted.
bool extractBundle(const std::wstring& container, const std::wstring& game, const FileManifest& manifest,
                   std::vector<char>& buffer) {
    std::vector<std::string> paths;
    for (const ManifestEntry& entry : manifest) paths.push_back(entry.path);
    std::sort(paths.begin(), paths.end());
    UniqueFile input(_wfopen(container.c_str(), L"rb"));
    if (!input) return false;
    size_t extracted = 0;
    BundleRecordHeader header;
    while (readBundleHeader(input.get(), header) == BundleHeaderRead::Record) {
        if (!std::binary_search(paths.begin(), paths.end(), header.name)) {
            if (!skipBundleContent(input.get(), header.length)) return false;
            continue;
        }
        const std::wstring relative = utf8ToWide(header.name);
        createFolders(game, relative);
        UniqueKernelHandle file(CreateFileW((game + L"\\" + relative).c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        const BundleSink sink = [&file](const char* data, size_t size) {
            DWORD written = 0;
            return WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
                   written == size;
        };
        const BundleCopyResult copy =
            copyBundleContent(input.get(), header.length, &sink, buffer.data(), buffer.size());
        if (!copy.complete || !copy.written) return false;
        ++extracted;
    }
    input.reset();
    return extracted == manifest.size() && DeleteFileW(container.c_str()) != FALSE;
}

int fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "update_floor: %s %s\n", what, detail.c_str());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr,
                     "usage: update_floor.exe GAME_FOLDER BRANCH_URL VERSION MANIFEST_FILE "
                     "[BUNDLE_SHA256 | --rename]\n");
        return 2;
    }
    const std::wstring game = argv[1];
    const std::string version = wideToUtf8(argv[3]);
    const std::optional<std::string> manifestText = readWholeFile(argv[4]);
    if (!manifestText) return fail("cannot read", wideToUtf8(argv[4]));
    const FileManifest manifest = parseManifestText(*manifestText);
    if (manifest.empty()) return fail("no manifest in", wideToUtf8(argv[4]));

    const ULONGLONG start = GetTickCount64();
    Connection connection;
    if (!connect(argv[2], connection)) return fail("cannot connect to", wideToUtf8(argv[2]));
    std::vector<char> buffer(kBufferBytes);
    const std::vector<std::string> texts = {"/latest.txt", "/latest.sig", "/" + version + "/checksums.txt",
                                            "/" + version + "/checksums.sig"};
    for (const std::string& text : texts) {
        std::string body;
        if (!fetch(connection, text, buffer, [&body](const char* data, DWORD size) {
                body.append(data, size);
                return true;
            })) {
            return fail("cannot fetch", text);
        }
    }
    const bool rename = argc == 6 && std::wstring(argv[5]) == L"--rename";
    if (argc == 6 && !rename) {
        const std::string bundle = wideToUtf8(argv[5]);
        const std::wstring compressed = game + L"\\_smallpack.gz";
        const std::wstring unpacked = game + L"\\_smallpack.bin";
        if (!download(connection, "/" + version + "/files/" + bundle + ".gz", compressed, buffer)) {
            return fail("cannot download the bundle", bundle);
        }
        const ULONGLONG fetched = GetTickCount64();
        if (sha256OfFile(compressed, buffer) != bundle) return fail("bad hash", "of the bundle");
        const ULONGLONG hashed = GetTickCount64();
        if (!unpack(compressed, unpacked, buffer)) return fail("cannot unpack", "the bundle");
        if (!extractBundle(unpacked, game, manifest, buffer)) return fail("cannot extract", "the bundle");
        const ULONGLONG end = GetTickCount64();
        std::printf("floor files=%d fetch_ms=%llu hash_ms=%llu unpack_ms=%llu elapsed_ms=%llu\n",
                    static_cast<int>(manifest.size()), fetched - start, hashed - fetched, end - hashed,
                    end - start);
        return 0;
    }
    std::vector<std::wstring> targets;
    for (const ManifestEntry& entry : manifest) {
        const std::wstring relative = utf8ToWide(entry.path);
        createFolders(game, relative);
        targets.push_back(game + L"\\" + relative);
        if (!download(connection, "/" + version + "/files/" + entry.sha256 + ".gz", targets.back() + L".gz",
                      buffer)) {
            return fail("cannot download", entry.path);
        }
    }
    const ULONGLONG fetched = GetTickCount64();
    for (size_t i = 0; i < manifest.size(); ++i) {
        if (sha256OfFile(targets[i] + L".gz", buffer) != manifest[i].sha256)
            return fail("bad hash", manifest[i].path);
    }
    const ULONGLONG hashed = GetTickCount64();
    for (size_t i = 0; i < manifest.size(); ++i) {
        const std::wstring unpacked = rename ? targets[i] + L".new" : targets[i];
        if (!unpack(targets[i] + L".gz", unpacked, buffer)) return fail("cannot unpack", manifest[i].path);
        if (rename && !MoveFileExW(unpacked.c_str(), targets[i].c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return fail("cannot rename", manifest[i].path);
        }
    }
    const ULONGLONG end = GetTickCount64();
    std::printf("floor files=%d fetch_ms=%llu hash_ms=%llu unpack_ms=%llu elapsed_ms=%llu\n",
                static_cast<int>(manifest.size()), fetched - start, hashed - fetched, end - hashed,
                end - start);
    return 0;
}
