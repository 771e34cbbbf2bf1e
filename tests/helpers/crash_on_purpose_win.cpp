// Installs the launcher's crash handler and then crashes on purpose, so that the tests can look at
// what a crash leaves behind.
// usage: crash_on_purpose.exe FOLDER fault|fault-on-thread|uncaught-throw|hanging-dump
#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>

#include "base/crash_handler_win.h"
#include "base/run_log.h"

namespace {

constexpr DWORD kHangingDumpTimeoutMs = 2000;

// Stands in for the system's report that follows the launcher's handler: under Wine that starts
// its debugger, which keeps the process; Windows ends it with the exception's code, as this does.
LONG WINAPI endWithExceptionCode(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

bool hangForever(HANDLE, EXCEPTION_POINTERS*) {
    Sleep(INFINITE);
    return false;
}

// Through a volatile address, so that the compiler cannot turn the store into a trap of its own.
void writeToAddressZero() {
    volatile uintptr_t address = 0;
    *reinterpret_cast<volatile int*>(address) = 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const WString folder = argv[1];
    const std::wstring how = argv[2];
    SetUnhandledExceptionFilter(endWithExceptionCode);
    if (!openRunLog(folder)) return 3;
    const bool hanging = how == L"hanging-dump";
    installCrashHandler(folder, hanging ? kHangingDumpTimeoutMs : kCrashDumpTimeoutMs);
    if (hanging) setCrashDumpWriterForTests(hangForever);
    logLine("about to crash");
    if (how == L"fault-on-thread") std::thread(writeToAddressZero).join();
    if (how == L"uncaught-throw") std::thread([] { throw 42; }).join();
    writeToAddressZero();
    return 0;
}
