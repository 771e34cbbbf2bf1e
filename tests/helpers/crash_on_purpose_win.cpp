// Installs the launcher's crash handler and then crashes on purpose, so that the tests can look at
// what a crash leaves behind.
// usage: crash_on_purpose.exe FOLDER fault|fault-on-thread|uncaught-throw|hanging-dump|
//                                   stack-overflow|stack-overflow-on-thread|raised-stack-overflow
// "raised-stack-overflow" raises the stack overflow exception on a thread that has used up its stack
// to kStackLeftBytes: the way Windows reports an overflow, with little stack left, which Wine
// cannot reproduce (its overflowing thread is killed before any handler runs).
#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>

#include "base/crash_handler_win.h"
#include "base/run_log.h"

namespace {

constexpr DWORD kHangingDumpTimeoutMs = 2000;
constexpr DWORD kOverflowedThreadWaitMs = 60000;

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

// Unbounded recursion whose frames the compiler can neither drop nor merge (nor call endless).
volatile bool keepRecursing = true;
int recurseForever(int depth) {
    volatile char frame[512];
    frame[depth % sizeof frame] = static_cast<char>(depth);
    return keepRecursing ? recurseForever(depth + 1) + frame[0] : frame[0];
}

// The stack Windows leaves a thread to handle its overflow, about.
constexpr ULONG_PTR kStackLeftBytes = 16 * 1024;
ULONG_PTR stackLow = 0;

int raiseWithLittleStackLeft(int depth) {
    volatile char frame[512];
    frame[depth % sizeof frame] = static_cast<char>(depth);
    char here = 0;
    if (reinterpret_cast<ULONG_PTR>(&here) - stackLow > kStackLeftBytes) {
        return raiseWithLittleStackLeft(depth + 1) + frame[0] + here;
    }
    RaiseException(EXCEPTION_STACK_OVERFLOW, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return frame[0];
}

void overflowOnThread() {
    using StackLimits = void(WINAPI*)(PULONG_PTR, PULONG_PTR);
    const auto limits = reinterpret_cast<StackLimits>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetCurrentThreadStackLimits")));
    ULONG_PTR high = 0;
    if (limits) limits(&stackLow, &high);
    (void)raiseWithLittleStackLeft(0);
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
    if (how == L"stack-overflow") return recurseForever(0);
    // The process goes on without the thread, as the launcher's window would without its worker.
    if (how == L"stack-overflow-on-thread") {
        std::thread([] { (void)recurseForever(0); }).join();
        Sleep(kOverflowedThreadWaitMs);
        return 0;
    }
    if (how == L"raised-stack-overflow") std::thread(overflowOnThread).join();
    writeToAddressZero();
    return 0;
}
