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
// The writer writes dumps itself: dbghelp needs room.
constexpr SIZE_T kWriterStackBytes = 512 * 1024;
// The threads whose end the writer watches; more are not watched. Two wait slots are the writer's
// own events.
constexpr size_t kWatchedThreads = MAXIMUM_WAIT_OBJECTS - 2;
// A thread that ended without its exit path is taken for a crash only when the process is still
// there this much later: while the process ends, every thread but the last goes that way.
constexpr DWORD kVanishedGraceMs = 1000;

using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                PMINIDUMP_EXCEPTION_INFORMATION,
                                                PMINIDUMP_USER_STREAM_INFORMATION,
                                                PMINIDUMP_CALLBACK_INFORMATION);

// A thread of the process, from its start (the thread-attach callback) until the writer has seen
// it end. `ended` is set on its normal exit path (the thread-detach callback), which a thread that
// a fault killed outright never reaches.
struct WatchedThread {
    std::atomic<DWORD> id{0};  // 0: a free slot
    std::atomic<HANDLE> handle{nullptr};
    std::atomic<bool> ended{false};
};

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
    UniqueKernelHandle writeOne;  // the writer is to write the records of a stack overflow
    UniqueKernelHandle threadsChanged;
    WatchedThread threads[kWatchedThreads];
    DWORD ownThreads[2] = {};  // the writer and the watchdog, never watched
};

std::atomic<CrashSetup*> installed{nullptr};
std::atomic<DWORD> crashingThread{0};
std::atomic<DWORD> crashCode{0};
std::atomic<EXCEPTION_POINTERS*> overflowException{nullptr};
std::atomic<CrashDumpWriter> writerForTests{nullptr};
std::atomic<CrashRescue> rescue{nullptr};

// Leaves kCrashStackGuaranteeBytes of the calling thread's stack for its exception handling.
void guaranteeCrashStack() noexcept {
    ULONG bytes = kCrashStackGuaranteeBytes;
    (void)SetThreadStackGuarantee(&bytes);
}

void watchThisThread(CrashSetup& setup) noexcept {
    for (const DWORD own : setup.ownThreads) {
        if (own == GetCurrentThreadId()) return;
    }
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, SYNCHRONIZE,
                         FALSE, 0))
        return;
    for (WatchedThread& slot : setup.threads) {
        DWORD free = 0;
        if (!slot.id.compare_exchange_strong(free, GetCurrentThreadId())) continue;
        slot.ended.store(false);
        slot.handle.store(self);
        SetEvent(setup.threadsChanged.get());
        return;
    }
    CloseHandle(self);
}

void markThisThreadEnded(CrashSetup& setup) noexcept {
    const DWORD self = GetCurrentThreadId();
    for (WatchedThread& slot : setup.threads) {
        if (slot.id.load() == self) slot.ended.store(true);
    }
}

// Runs for every thread that starts or ends in the process, the system's and the libraries'
// threads too, once the handler is installed.
void NTAPI onThreadEvent(PVOID, DWORD reason, PVOID) {
    CrashSetup* const setup = installed.load();
    if (!setup) return;
    if (reason == DLL_THREAD_ATTACH) {
        guaranteeCrashStack();
        watchThisThread(*setup);
    } else if (reason == DLL_THREAD_DETACH) {
        markThisThreadEnded(*setup);
    }
}

}  // namespace

// The loader calls the functions in the executable's TLS callback table at every thread start and
// end.
extern "C" {
__attribute__((used, section(".CRT$XLB"))) PIMAGE_TLS_CALLBACK varnholdCrashThreadCallback = onThreadEvent;
}

namespace {

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

bool writeMiniDump(const CrashSetup& setup, HANDLE file, EXCEPTION_POINTERS* exception, DWORD threadId) {
    // From the system folder by its full path: the launcher's folder is the game folder, where a
    // file of that name could have been put by anybody. Loaded only now, so that the launcher's
    // imports stay as they are and a normal start never pays for it.
    if (setup.dbghelpPath.empty()) return false;
    const HMODULE dbghelp = LoadLibraryW(setup.dbghelpPath.c_str());
    if (!dbghelp) return false;
    const auto write = reinterpret_cast<MiniDumpWriteDumpFunction>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    if (!write) return false;
    MINIDUMP_EXCEPTION_INFORMATION information{threadId, exception, FALSE};
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

// The line naming the crash, in the run log and as the whole of launcher_error.log, then the dump.
// `threadId` is the crashed thread's, which need not be the calling one; without `exception` the
// thread was killed by a fault that could not be handled.
void writeCrashRecords(const CrashSetup& setup, EXCEPTION_POINTERS* exception, DWORD code, DWORD threadId) {
    char text[384];
    if (exception) {
        const void* address =
            exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionAddress : nullptr;
        char where[96];
        describeAddress(where, sizeof where, address);
        std::snprintf(text, sizeof text, "crash: exception 0x%08lX (%s) at %s on thread %lu; dump %ls",
                      static_cast<unsigned long>(code), exceptionName(code), where,
                      static_cast<unsigned long>(threadId), kCrashDumpFileName);
    } else {
        std::snprintf(text, sizeof text,
                      "crash: thread %lu ended without its exit, killed by a fault it had no stack left to "
                      "handle (stack overflow); dump %ls",
                      static_cast<unsigned long>(threadId), kCrashDumpFileName);
    }
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
    if (writer ? writer(file.get(), exception) : writeMiniDump(setup, file.get(), exception, threadId)) {
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
    if (const CrashRescue firstStep = rescue.load()) firstStep();
    if (code == EXCEPTION_STACK_OVERFLOW) {
        // This thread has the guaranteed stack and no more: the writer writes the records with a
        // stack of its own and ends the process; the watchdog still bounds the time.
        overflowException.store(exception);
        SetEvent(setup->writeOne.get());
        Sleep(INFINITE);
    }
    // On the crashed thread: writing from another thread is what Windows recommends, but Wine
    // cannot suspend a thread that is dispatching a fault, and such a dump never finishes there.
    writeCrashRecords(*setup, exception, code, self);
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

// The records of a crash that left its thread no stack to write them with, then the end of the
// process: a stack overflow handed over by the filter, or a thread that a stack overflow killed
// outright (under Wine, whose thread stacks have no room below their guard page to handle it), which
// never reaches the filter and would leave the process running without it.
[[noreturn]] void writeForCrashedThread(CrashSetup& setup, EXCEPTION_POINTERS* exception, DWORD threadId) {
    if (!exception) {
        DWORD none = 0;
        if (!crashingThread.compare_exchange_strong(none, threadId)) Sleep(INFINITE);
        crashCode.store(EXCEPTION_STACK_OVERFLOW);
        SetEvent(setup.started.get());
        if (const CrashRescue firstStep = rescue.load()) firstStep();
    }
    writeCrashRecords(setup, exception, EXCEPTION_STACK_OVERFLOW, threadId);
    SetEvent(setup.finished.get());
    TerminateProcess(GetCurrentProcess(), EXCEPTION_STACK_OVERFLOW);
    std::abort();
}

// Waits for a stack overflow handed over by the filter, and for the end of every watched thread:
// one that ended by its exit path frees its slot, one that did not is a crash.
DWORD WINAPI writeCrashes(void* parameter) {
    auto& setup = *static_cast<CrashSetup*>(parameter);
    for (;;) {
        HANDLE waitOn[MAXIMUM_WAIT_OBJECTS] = {setup.writeOne.get(), setup.threadsChanged.get()};
        WatchedThread* slots[MAXIMUM_WAIT_OBJECTS] = {};
        DWORD count = 2;
        for (WatchedThread& slot : setup.threads) {
            if (HANDLE handle = slot.handle.load()) {
                slots[count] = &slot;
                waitOn[count++] = handle;
            }
        }
        ResetEvent(setup.threadsChanged.get());
        const DWORD result = WaitForMultipleObjects(count, waitOn, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0)
            writeForCrashedThread(setup, overflowException.load(), crashingThread.load());
        if (result == WAIT_OBJECT_0 + 1) continue;
        if (result < WAIT_OBJECT_0 + 2 || result >= WAIT_OBJECT_0 + count) {
            Sleep(kVanishedGraceMs);  // cannot happen with valid handles; never spin
            continue;
        }
        WatchedThread& slot = *slots[result - WAIT_OBJECT_0];
        if (!slot.ended.load()) {
            Sleep(kVanishedGraceMs);
            if (!slot.ended.load()) writeForCrashedThread(setup, nullptr, slot.id.load());
        }
        CloseHandle(slot.handle.exchange(nullptr));
        slot.id.store(0);
    }
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
        guaranteeCrashStack();
        setup->started.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        setup->finished.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        setup->writeOne.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        setup->threadsChanged.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!setup->started || !setup->finished || !setup->writeOne || !setup->threadsChanged) return;
        // Both held until the handler is complete.
        UniqueKernelHandle writer(CreateThread(nullptr, kWriterStackBytes, writeCrashes, setup.get(),
                                               STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED,
                                               &setup->ownThreads[0]));
        if (!writer) return;
        UniqueKernelHandle watchdog(CreateThread(nullptr, kWatchdogStackBytes, watchCrash, setup.get(),
                                                 STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED,
                                                 &setup->ownThreads[1]));
        if (!watchdog) {
            TerminateThread(writer.get(), 0);  // it never ran
            return;
        }
        watchThisThread(*setup);
        // The watchdog and the writer use it until the process ends.
        installed.store(setup.release());
        installed.load()->previous = SetUnhandledExceptionFilter(onUnhandledException);
        std::set_terminate(onTerminate);
        ResumeThread(writer.get());
        ResumeThread(watchdog.get());
    } catch (...) {
        // No memory at start-up: the launcher runs without crash records.
    }
}

void setCrashDumpWriterForTests(CrashDumpWriter writer) noexcept { writerForTests.store(writer); }

void setCrashRescue(CrashRescue firstStep) noexcept { rescue.store(firstStep); }
