#include "branches/folder_checks_win.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "base/constants.h"
#include "base/handles_win.h"
#include "base/unique_handle.h"
#include "branches/folder_rules.h"

namespace {

constexpr DWORD kPathBufferChars = 32768;

struct FileIdentity {
    DWORD volumeSerial = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
};

std::optional<FileIdentity> fileIdentity(const WString& path) {
    if (path.empty() || isBlankFolderPath(path)) return std::nullopt;
    // No access rights are needed to read the identity; backup semantics let folders open.
    UniqueKernelHandle handle(CreateFileW(path.c_str(), 0,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle.get(), &information)) return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                        information.nFileIndexLow};
}

bool existsAsFile(const WString& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A folder counts as present once it holds one entry besides "." and "..".
bool folderHasEntries(const WString& folder) {
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return false;
    do {
        if (std::wcscmp(entry.cFileName, L".") != 0 && std::wcscmp(entry.cFileName, L"..") != 0) return true;
    } while (FindNextFileW(find.get(), &entry));
    return false;
}

// Passes each line of a file (without its line feed) to `onLine` until it returns true. False
// when the file cannot be opened.
template <typename OnLine>
bool forEachLine(const WString& path, OnLine onLine) {
    UniqueFile file(_wfopen(path.c_str(), L"rb"));
    if (!file) return false;
    std::string line;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        for (size_t i = 0; i < got; ++i) {
            if (buffer[i] != '\n') {
                line += buffer[i];
                continue;
            }
            if (onLine(std::string_view(line))) return true;
            line.clear();
        }
    }
    if (!line.empty()) onLine(std::string_view(line));
    return true;
}

}  // namespace

WString normalizeFolderPath(const WString& path) {
    if (path.empty() || isBlankFolderPath(path)) return {};
    WString current = path;
    std::vector<wchar_t> buffer(kPathBufferChars);
    DWORD length = GetFullPathNameW(current.c_str(), kPathBufferChars, buffer.data(), nullptr);
    if (length >= 1 && length < kPathBufferChars) current.assign(buffer.data(), length);
    length = GetLongPathNameW(current.c_str(), buffer.data(), kPathBufferChars);
    if (length >= 1 && length < kPathBufferChars) current.assign(buffer.data(), length);
    return normalizeFolderText(std::move(current));
}

bool isSameFolder(const WString& a, const WString& b) {
    const std::optional<FileIdentity> first = fileIdentity(a);
    const std::optional<FileIdentity> second = first ? fileIdentity(b) : std::nullopt;
    if (first && second) {
        // Identity alone decides: it sees through drive mappings, junctions and every spelling.
        return first->volumeSerial == second->volumeSerial && first->indexHigh == second->indexHigh &&
               first->indexLow == second->indexLow;
    }
    const WString normalA = normalizeFolderPath(a);
    const WString normalB = normalizeFolderPath(b);
    // A path that normalises to nothing cannot be told apart from any other folder: treat it as a
    // clash so that it never passes as a branch folder of its own.
    if ((!a.empty() && normalA.empty()) || (!b.empty() && normalB.empty())) return true;
    return normalA == normalB;
}

bool isWorkTree(const WString& folder) {
    for (const wchar_t* name : kRepositoryMetadataNames) {
        // A ".git" file (a linked working tree) counts as much as a folder.
        if (GetFileAttributesW((folder + L"\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    }
    return false;
}

WString listMissingGameItems(const WString& folder) {
    WString list;
    for (const wchar_t* name : kRequiredGameFiles) {
        if (!existsAsFile(folder + L"\\" + name)) appendListItem(list, name);
    }
    for (const wchar_t* name : kRequiredGameFolders) {
        if (!folderHasEntries(folder + L"\\" + name)) appendListItem(list, name, L"\\");
    }
    return list;
}

bool isExeMissing(const WString& folder) { return !fileExistsIn(folder, kGameExeName); }

bool fileExistsIn(const WString& folder, const wchar_t* name) { return existsAsFile(folder + L"\\" + name); }

int ensureSoundLibrary(const WString& folder) {
    const WString library = folder + L"\\" + kGameSoundLibrary;
    if (existsAsFile(library)) return kSoundLibraryPresent;
    const WString source = folder + L"\\" + kSecondSoundLibrary;
    if (!existsAsFile(source)) return kSoundLibraryLost;
    // A proxy mss32.dll loads Mss23.dll itself; copying it over the library it needs would leave
    // the game with no sound library at all.
    if (readFileDescription(source).find(kProxyMarker) != WString::npos) return kSoundLibraryLost;
    return CopyFileW(source.c_str(), library.c_str(), FALSE) ? kSoundLibraryRestored : kSoundLibraryLost;
}

WString readFileDescription(const WString& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<unsigned char> block(size, 0);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return {};

    void* translation = nullptr;
    UINT translationBytes = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translation, &translationBytes) ||
        !translation || translationBytes < 4) {
        return {};
    }
    WORD pair[2];
    std::memcpy(pair, translation, sizeof pair);
    wchar_t subBlock[64];
    std::swprintf(subBlock, sizeof subBlock / sizeof subBlock[0],
                  L"\\StringFileInfo\\%04x%04x\\FileDescription", static_cast<unsigned>(pair[0]),
                  static_cast<unsigned>(pair[1]));

    void* value = nullptr;
    UINT valueChars = 0;
    if (!VerQueryValueW(block.data(), subBlock, &value, &valueChars) || !value) return {};
    if (valueChars != 0) --valueChars;  // the terminator
    return lowerAsciiLetters(WString(static_cast<const wchar_t*>(value), valueChars));
}

bool markerNamesOtherBranch(const WString& folder, const char* identifierUtf8) {
    bool namesOther = false;
    (void)forEachLine(folder + kChannelMarkerFileName, [&](std::string_view line) {
        const std::optional<bool> decision = markerLineNamesOtherBranch(line, identifierUtf8);
        if (!decision) return false;
        namesOther = *decision;
        return true;  // the first "channel=" line decides; later lines are not read
    });
    return namesOther;
}

void writeInstallMarker(const WString& folder, const char* identifierUtf8) {
    UniqueFile file(_wfopen((folder + kChannelMarkerFileName).c_str(), L"wb"));
    if (!file) return;
    const std::string text = installMarkerText(identifierUtf8);
    (void)std::fwrite(text.data(), 1, text.size(), file.get());
}
