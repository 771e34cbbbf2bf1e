// Stands in for the web browser of the test prefix: appends the address it was given, one per line
// in UTF-8, to the file given with --log (else the one named by the environment variable
// VARNHOLD_URL_LOG, else opened_urls.log next to this program), and ends. Registered as the prefix's
// handler of http and https addresses by the window tests, so clicking a link never starts a real
// browser.
// usage: record_url.exe [--log FILE] ADDRESS
#include <windows.h>

#include <cstdio>
#include <string>

#include "config/text_convert.h"

int wmain(int argc, wchar_t** argv) {
    const bool logGiven = argc == 4 && std::wstring(argv[1]) == L"--log";
    if (argc != 2 && !logGiven) return 2;
    wchar_t logPath[MAX_PATH] = {};
    if (logGiven) {
        lstrcpynW(logPath, argv[2], MAX_PATH);
    } else if (!GetEnvironmentVariableW(L"VARNHOLD_URL_LOG", logPath, MAX_PATH)) {
        GetModuleFileNameW(nullptr, logPath, MAX_PATH);
        std::wstring path = logPath;
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"opened_urls.log";
        lstrcpynW(logPath, path.c_str(), MAX_PATH);
    }
    std::FILE* log = _wfopen(logPath, L"ab");
    if (!log) return 1;
    const std::string line = wideToUtf8(argv[argc - 1]) + "\n";
    std::fwrite(line.data(), 1, line.size(), log);
    std::fclose(log);
    return 0;
}
