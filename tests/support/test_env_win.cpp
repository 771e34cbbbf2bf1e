#include "support/test_env_win.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <vector>

#include "base/unique_handle.h"
#include "config/text_convert.h"

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

bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(static_cast<DWORD>(pollMs));
    }
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

    std::wstring commandLine = L"/bin/sh " + utf8ToWide(scriptPath);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return -1;
    }
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);

    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (const auto status = readFileBytes(winePathFromUnix(statusPath))) {
            return std::atoi(status->c_str());
        }
        Sleep(10);
    }
    return -1;
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
    applied = !linuxPath.empty() && runUnixShell("chattr +i " + shellQuote(linuxPath)) == 0;
}

ImmutableFolder::~ImmutableFolder() {
    if (applied) runUnixShell("chattr -i " + shellQuote(linuxPath));
}
