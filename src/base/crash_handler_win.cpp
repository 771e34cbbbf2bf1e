#include "base/crash_handler_win.h"

#include <dbghelp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "base/constants.h"
#include "base/handles_win.h"
#include "base/run_log.h"

namespace {

// Raised by std::terminate, so that an uncaught C++ exception leaves the same records as a fault.
constexpr DWORD kTerminateExceptionCode = 0xE0564C54;
constexpr SIZE_T kWatchdogStackBytes = 64 * 1024;

using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                PMINIDUMP_EXCEPTION_INFORMATION,
                                                PMINIDUMP_USER_STREAM_INFORMATION,
                                                PMINIDUMP_CALLBACK_INFORMATION);

// Everything the handler needs, made at installation: a crashed process may have a broken heap,
// so the handler allocates nothing. Never destroyed.
struct CrashSetup {
    WString dumpPath;
    WString errorLogPath;
    WString dbghelpPath;  // empty when the system folder is unknown: no dump
    DWORD timeoutMs = kCrashDumpTimeoutMs;
    LPTOP_LEVEL_EXCEPTION_FILTER previous = nullptr;
    UniqueKernelHandle started;   // set when a crash begins: the watchdog starts counting
    UniqueKernelHandle finished;  // set when the records are written
};

std::atomic<CrashSetup*> installed{nullptr};
std::atomic<DWORD> crashingThread{0};
std::atomic<DWORD> crashCode{0};
std::atomic<CrashDumpWriter> writerForTests{nullptr};

const char* exceptionName(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
            return "access violation";
        case EXCEPTION_IN_PAGE_ERROR:
            return "in-page error";
        case EXCEPTION_STACK_OVERFLOW:
            return "stack overflow";
        case EXCEPTION_ILLEGAL_INSTRUCTION:
            return "illegal instruction";
        case EXCEPTION_PRIV_INSTRUCTION:
            return "privileged instruction";
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
            return "integer division by zero";
        case EXCEPTION_DATATYPE_MISALIGNMENT:
            return "misaligned data";
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
            return "array bounds exceeded";
        case 0xC0000374:
            return "heap corruption";
        case kTerminateExceptionCode:
            return "uncaught C++ exception";
        default:
            return "unhandled exception";
    }
}

// "launcher+0x1A2B3" for the launcher's own code, the address and its module's base otherwise.
void describeAddress(char* out, size_t size, const void* address) {
    HMODULE module = nullptr;
    const auto at = reinterpret_cast<uintptr_t>(address);
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module)) {
        std::snprintf(out, size, "0x%llX", static_cast<unsigned long long>(at));
        return;
    }
    const auto base = reinterpret_cast<uintptr_t>(module);
    if (module == GetModuleHandleW(nullptr)) {
        std::snprintf(out, size, "launcher+0x%llX", static_cast<unsigned long long>(at - base));
    } else {
        std::snprintf(out, size, "0x%llX (module at 0x%llX)", static_cast<unsigned long long>(at),
                      static_cast<unsigned long long>(base));
    }
}

bool writeMiniDump(const CrashSetup& setup, HANDLE file, EXCEPTION_POINTERS* exception) {
    // From the system folder by its full path: the launcher's folder is the game folder, where a
    // file of that name could have been put by anybody. Loaded only now, so that the launcher's
    // imports stay as they are and a normal start never pays for it.
    if (setup.dbghelpPath.empty()) return false;
    const HMODULE dbghelp = LoadLibraryW(setup.dbghelpPath.c_str());
    if (!dbghelp) return false;
    const auto write = reinterpret_cast<MiniDumpWriteDumpFunction>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    if (!write) return false;
    MINIDUMP_EXCEPTION_INFORMATION information{GetCurrentThreadId(), exception, FALSE};
    return write(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                 exception ? &information : nullptr, nullptr, nullptr) != FALSE;
}

// The same text as a fatal error's: launcher_error.log holds the last message only, no line break.
void writeErrorLog(const CrashSetup& setup, const char* text) {
    UniqueKernelHandle file(CreateFileW(setup.errorLogPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    (void)WriteFile(file.get(), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// On the crashed thread: writing from another thread is what Windows recommends, but Wine cannot
// suspend a thread that is dispatching a fault, and such a dump never finishes there.
void writeCrashRecords(const CrashSetup& setup, EXCEPTION_POINTERS* exception, DWORD code) {
    const void* address =
        exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionAddress : nullptr;
    char where[96];
    describeAddress(where, sizeof where, address);
    char text[384];
    std::snprintf(text, sizeof text, "crash: exception 0x%08lX (%s) at %s on thread %lu; dump %ls",
                  static_cast<unsigned long>(code), exceptionName(code), where,
                  static_cast<unsigned long>(GetCurrentThreadId()), kCrashDumpFileName);
    logLineWhileCrashing(text);
    writeErrorLog(setup, text);

    UniqueKernelHandle file(CreateFileW(setup.dumpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        std::snprintf(text, sizeof text, "crash: the dump could not be created (error %lu)", GetLastError());
        logLineWhileCrashing(text);
        return;
    }
    const CrashDumpWriter writer = writerForTests.load();
    if (writer ? writer(file.get(), exception) : writeMiniDump(setup, file.get(), exception)) {
        logLineWhileCrashing("crash: dump written");
        return;
    }
    std::snprintf(text, sizeof text, "crash: the dump could not be written (error %lu)", GetLastError());
    logLineWhileCrashing(text);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* exception) {
    CrashSetup* const setup = installed.load();
    const DWORD self = GetCurrentThreadId();
    DWORD first = 0;
    if (!crashingThread.compare_exchange_strong(first, self)) {
        // A fault inside this handler goes straight on; another thread that crashes meanwhile waits
        // for the first one to end the process.
        if (first == self) return EXCEPTION_CONTINUE_SEARCH;
        Sleep(INFINITE);
    }
    const DWORD code =
        exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : 0;
    crashCode.store(code);
    SetEvent(setup->started.get());
    writeCrashRecords(*setup, exception, code);
    SetEvent(setup->finished.get());
    return setup->previous ? setup->previous(exception) : EXCEPTION_CONTINUE_SEARCH;
}

// Ends a crash whose dump hangs (a lock that the crashed thread held, a broken heap inside the
// dump writer). Started with the handler, not at the crash: a thread started then could itself
// wait forever for a lock that the crashed thread holds.
DWORD WINAPI watchCrash(void* parameter) {
    const auto* setup = static_cast<const CrashSetup*>(parameter);
    WaitForSingleObject(setup->started.get(), INFINITE);
    if (WaitForSingleObject(setup->finished.get(), setup->timeoutMs) != WAIT_TIMEOUT) return 0;
    logLineWhileCrashing("crash: the dump did not finish in time; the process ends without it");
    TerminateProcess(GetCurrentProcess(), crashCode.load());
    return 0;
}

[[noreturn]] void onTerminate() {
    RaiseException(kTerminateExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    std::abort();
}

}  // namespace

void installCrashHandler(const WString& folder, DWORD dumpTimeoutMs) noexcept {
    if (installed.load()) return;
    try {
        auto setup = std::make_unique<CrashSetup>();
        setup->dumpPath = folder + L"/" + kCrashDumpFileName;
        setup->errorLogPath = folder + kErrorLogFileName;
        wchar_t system[MAX_PATH];
        const UINT length = GetSystemDirectoryW(system, MAX_PATH);
        if (length > 0 && length < MAX_PATH) setup->dbghelpPath = WString(system, length) + L"\\dbghelp.dll";
        setup->timeoutMs = dumpTimeoutMs;
        setup->started.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        setup->finished.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!setup->started || !setup->finished) return;
        UniqueKernelHandle watchdog(CreateThread(nullptr, kWatchdogStackBytes, watchCrash, setup.get(),
                                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (!watchdog) return;
        // The watchdog uses it until the process ends.
        installed.store(setup.release());
        installed.load()->previous = SetUnhandledExceptionFilter(onUnhandledException);
        std::set_terminate(onTerminate);
    } catch (...) {
        // No memory at start-up: the launcher runs without crash records.
    }
}

void setCrashDumpWriterForTests(CrashDumpWriter writer) noexcept { writerForTests.store(writer); }
