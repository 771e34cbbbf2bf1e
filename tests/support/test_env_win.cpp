#include "support/test_env_win.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <vector>

#include "base/unique_handle.h"
#include "config/text_convert.h"
#include "support/child_process_win.h"

namespace {

std::string testRunFolder() { return std::string(VARNHOLD_BINARY_DIR) + "/test-run"; }

}  // namespace

WString winePathFromUnix(const std::string& unixPath) {
    WString path = L"Z:" + utf8ToWide(unixPath);
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

std::string unixPathFromWine(const WString& winePath) {
    using Converter = char*(CDECL*)(const wchar_t*);
    static const auto convert = reinterpret_cast<Converter>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) return {};
    char* unixName = convert(winePath.c_str());
    if (!unixName) return {};
    std::string result(unixName);
    HeapFree(GetProcessHeap(), 0, unixName);
    return result;
}

std::string cpuEmulator() {
    wchar_t name[64] = {};
    const DWORD length = GetEnvironmentVariableW(L"VARNHOLD_CPU_EMULATOR", name, 64);
    return length > 0 && length < 64 ? wideToUtf8(name) : std::string();
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

int runUnixShell(const std::string& script, int timeoutMs) {
    static std::atomic<int> counter{0};
    const std::string folder = testRunFolder() + "/shell";
    CreateDirectoryW(winePathFromUnix(testRunFolder()).c_str(), nullptr);
    CreateDirectoryW(winePathFromUnix(folder).c_str(), nullptr);
    const std::string stem =
        folder + "/" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    const std::string scriptPath = stem + ".sh";
    const std::string statusPath = stem + ".status";
    DeleteFileW(winePathFromUnix(statusPath).c_str());
    const std::string wrapped = "(\n" + script + "\n) >" + shellQuote(stem + ".log") + " 2>&1\n" +
                                "echo $? >" + shellQuote(statusPath + ".tmp") + "\n" + "mv " +
                                shellQuote(statusPath + ".tmp") + " " + shellQuote(statusPath) + "\n";
    if (!writeFileBytes(winePathFromUnix(scriptPath), wrapped)) return -1;

    if (!startLinuxProgram(L"/bin/sh " + utf8ToWide(scriptPath))) return -1;
    std::optional<std::string> status;
    (void)waitUntil([&] { return (status = readFileBytes(winePathFromUnix(statusPath))).has_value(); },
                    timeoutMs, 10);
    return status ? std::atoi(status->c_str()) : -1;
}

bool writeFileBytes(const WString& path, const std::string& bytes) {
    UniqueFile file(_wfopen(path.c_str(), L"wb"));
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return std::fclose(file.release()) == 0 && written;
}

std::optional<std::string> readFileBytes(const WString& path) {
    UniqueFile file(_wfopen(path.c_str(), L"rb"));
    if (!file) return std::nullopt;
    std::string bytes;
    std::vector<char> buffer(65536);
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        bytes.append(buffer.data(), got);
    return bytes;
}

bool fileExists(const WString& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const WString& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

ScratchDir::ScratchDir() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "outside-test";
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    linuxPath = testRunFolder() + "/scratch/" + name;
    windowsPath = winePathFromUnix(linuxPath);
    const int status = runUnixShell("chattr -R -i " + shellQuote(linuxPath) + " 2>/dev/null; rm -rf " +
                                    shellQuote(linuxPath) + " && mkdir -p " + shellQuote(linuxPath));
    EXPECT_EQ(status, 0) << "could not prepare the scratch folder " << linuxPath;
}

ScratchDir::~ScratchDir() = default;  // left in place for inspection; the next run replaces it

WString ScratchDir::operator/(const std::wstring& relative) const { return windowsPath + L"\\" + relative; }

ImmutableFolder::ImmutableFolder(const WString& folder) : linuxPath(unixPathFromWine(folder)) {
    static std::atomic<int> counter{0};
    if (linuxPath.empty()) {
        reason = "no Linux path for the folder";
        return;
    }
    const std::string reasonFile = testRunFolder() + "/shell/chattr-" +
                                   std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) +
                                   ".txt";
    applied =
        runUnixShell("chattr +i " + shellQuote(linuxPath) + " >" + shellQuote(reasonFile) + " 2>&1") == 0;
    if (!applied) {
        reason = "chattr +i is not possible here (" +
                 readFileBytes(winePathFromUnix(reasonFile)).value_or("no output") +
                 "); the test needs a folder that root cannot write into";
    }
}

ImmutableFolder::~ImmutableFolder() {
    if (applied) runUnixShell("chattr -i " + shellQuote(linuxPath));
}
