// Stands in for the web browser of the test prefix: appends the address it was given, one per line
// in UTF-8, to the file named by the environment variable VARNHOLD_URL_LOG (next to this program
// as opened_urls.log when unset), and ends. Registered as the prefix's handler of http and https
// addresses by the window tests, so clicking a link never starts a real browser.
// usage: record_url.exe ADDRESS
#include <windows.h>

#include <cstdio>
#include <string>

#include "config/text_convert.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    wchar_t logPath[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"VARNHOLD_URL_LOG", logPath, MAX_PATH)) {
        GetModuleFileNameW(nullptr, logPath, MAX_PATH);
        std::wstring path = logPath;
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"opened_urls.log";
        lstrcpynW(logPath, path.c_str(), MAX_PATH);
    }
    std::FILE* log = _wfopen(logPath, L"ab");
    if (!log) return 1;
    const std::string line = wideToUtf8(argv[1]) + "\n";
    std::fwrite(line.data(), 1, line.size(), log);
    std::fclose(log);
    return 0;
}
