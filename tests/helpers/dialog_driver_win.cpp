// Reads and answers the dialogs of other processes in the same Wine prefix, for tests and scripts
// that drive the launcher from outside:
//   dialog_driver list [--out FILE]
//   dialog_driver read CAPTION [TIMEOUT_MS] [--out FILE]
//   dialog_driver click CAPTION BUTTON [TIMEOUT_MS] [--out FILE]
// list prints every visible dialog; read waits for the dialog with exactly this caption and
// prints it; click waits for it, prints it, presses the button (its text without "&") and waits
// until the dialog has closed. Output is UTF-8, to FILE when given (the output of a Wine program
// to a pipe can hold the reader until the wineserver ends). Exit codes: 0 done, 1 no such dialog
// in time, 2 usage, 3 no such button, 4 the dialog stayed open.
#include "support/dialog_driver_win.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultTimeoutMs = 10000;

enum ExitCode { kDone = 0, kNotFound = 1, kUsage = 2, kNoButton = 3, kStillOpen = 4 };

std::string listingOf(const DialogSnapshot& dialog) {
    char head[96];
    std::snprintf(head, sizeof head, "pid %lu, window %p, owner %p\n",
                  static_cast<unsigned long>(dialog.processId), static_cast<void*>(dialog.handle),
                  static_cast<void*>(dialog.owner));
    return describeDialog(dialog) + "  " + head;
}

int timeoutArgument(const std::vector<std::wstring>& arguments, size_t index) {
    return arguments.size() > index ? static_cast<int>(std::wcstol(arguments[index].c_str(), nullptr, 10))
                                    : kDefaultTimeoutMs;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments;
    std::wstring outPath;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--out") == 0 && i + 1 < argc) {
            outPath = argv[++i];
        } else {
            arguments.emplace_back(argv[i]);
        }
    }
    if (arguments.empty()) return kUsage;
    const std::wstring& command = arguments[0];

    std::string output;
    int code = kDone;
    if (command == L"list") {
        for (const DialogSnapshot& dialog : listDialogs()) output += listingOf(dialog);
    } else if ((command == L"read" && arguments.size() >= 2) ||
               (command == L"click" && arguments.size() >= 3)) {
        const bool click = command == L"click";
        const int timeoutMs = timeoutArgument(arguments, click ? 3 : 2);
        const std::optional<DialogSnapshot> dialog = waitForDialog(arguments[1], timeoutMs);
        if (!dialog) {
            code = kNotFound;
        } else {
            output = listingOf(*dialog);
            if (click && !clickButton(*dialog, arguments[2])) {
                code = kNoButton;
            } else if (click && !waitUntilClosed(dialog->handle, timeoutMs)) {
                code = kStillOpen;
            }
        }
    } else {
        return kUsage;
    }

    std::FILE* out = outPath.empty() ? stdout : _wfopen(outPath.c_str(), L"wb");
    if (!out) return kUsage;
    std::fwrite(output.data(), 1, output.size(), out);
    if (out != stdout) std::fclose(out);
    return code;
}
