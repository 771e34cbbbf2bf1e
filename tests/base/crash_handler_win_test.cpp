// A program that links the crash handler and crashes on purpose: what it leaves for the mod team.
#include <windows.h>

#include <dbghelp.h>

#include <cstdio>
#include <gtest/gtest.h>
#include <optional>
#include <regex>
#include <string>

#include "support/child_process_win.h"
#include "support/test_env_win.h"

namespace {

constexpr DWORD kCrashLimitMs = 120000;

using ReadDumpStreamFunction = BOOL(WINAPI*)(PVOID, ULONG, PMINIDUMP_DIRECTORY*, PVOID*, ULONG*);

// The exception code that the dump's exception stream records, read with the system's dbghelp.
std::optional<DWORD> dumpedExceptionCode(std::string& dump) {
    const HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    const auto read = reinterpret_cast<ReadDumpStreamFunction>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpReadDumpStream")));
    void* stream = nullptr;
    ULONG size = 0;
    if (!read || !read(dump.data(), ExceptionStream, nullptr, &stream, &size) ||
        size < sizeof(MINIDUMP_EXCEPTION_STREAM))
        return std::nullopt;
    return static_cast<const MINIDUMP_EXCEPTION_STREAM*>(stream)->ExceptionRecord.ExceptionCode;
}

// A stack overflow: Windows hands the exception to the filter with the guaranteed stack left
// ("raised-stack-overflow" stands in for that: Wine cannot reproduce it, see below); under Wine the
// overflowing thread has no stack to handle anything and is killed outright, which the handler
// notices from the thread's end (the rows with real recursion).
TEST(CrashHandler, LeavesADumpAndTheLineThatNamesItThenEndsTheProcess) {
    static constexpr char kException[] =
        R"(exception 0x[0-9A-F]{8} \([a-zA-Z+ ]+\) at )"
        R"((launcher\+0x[0-9A-F]+|0x[0-9A-F]+ \(module at 0x[0-9A-F]+\)) on thread \d+)";
    static constexpr char kVanished[] =
        R"(thread \d+ ended without its exit, killed by a fault it had no stack left to handle \(stack )"
        R"(overflow\))";
    // A real overflow: handled with the guaranteed stack on Windows, the vanished thread under Wine.
    static const std::string kEither = std::string("(?:") + kException + "|" + kVanished + ")";
    struct Case {
        const wchar_t* how;
        DWORD exitCode;
        bool dumpWritten;
        const char* line = kException;
    };
    // qemu-user hands an access violation in 32-bit code to Wine as an illegal instruction, without
    // the address it touched: there the exception's code differs, and everything else is checked alike.
    DWORD fault = EXCEPTION_ACCESS_VIOLATION;
    if (!cpuEmulator().empty()) {
        fault = EXCEPTION_ILLEGAL_INSTRUCTION;
        std::printf("note: under %s an access violation arrives as 0x%08lX (illegal instruction)\n",
                    cpuEmulator().c_str(), fault);
    }
    const Case cases[] = {
        {L"fault", fault, true},
        {L"fault-on-thread", fault, true},
        {L"uncaught-throw", 0xE0564C54, true},
        {L"hanging-dump", fault, false},
        {L"raised-stack-overflow", EXCEPTION_STACK_OVERFLOW, true},
        {L"stack-overflow", EXCEPTION_STACK_OVERFLOW, true, kEither.c_str()},
        {L"stack-overflow-on-thread", EXCEPTION_STACK_OVERFLOW, true, kEither.c_str()},
    };
    ScratchDir dir;
    const WString helper =
        winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/crash_on_purpose.exe");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.how, c.how + wcslen(c.how)));
        const WString folder = dir / c.how;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        const ChildProcess crasher =
            startChild(helper, L"\"" + helper + L"\" \"" + folder + L"\" " + c.how, ChildOptions(folder));
        ASSERT_TRUE(crasher);
        EXPECT_EQ(waitForChild(crasher, kCrashLimitMs), std::optional<DWORD>(c.exitCode));

        const std::string log = readFileBytes(folder + L"\\launcher.log").value_or("");
        const std::regex expected(
            R"(.*\] about to crash\r\n.*\] (crash: )" + std::string(c.line) +
            R"(; dump launcher_crash.dmp)\r\n.*\] )" +
            std::string(c.dumpWritten
                            ? "crash: dump written"
                            : "crash: the dump did not finish in time; the process ends without it") +
            "\r\n");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(log, match, expected)) << log;
        EXPECT_EQ(readFileBytes(folder + L"\\launcher_error.log"), std::optional<std::string>(match[1]));

        std::string dump = readFileBytes(folder + L"\\launcher_crash.dmp").value_or("");
        if (c.dumpWritten) {
            EXPECT_EQ(dump.substr(0, 4), "MDMP");
            // A thread killed outright leaves no exception to record.
            const bool vanished = match[1].str().find("ended without its exit") != std::string::npos;
            EXPECT_EQ(dumpedExceptionCode(dump), vanished ? std::nullopt : std::optional<DWORD>(c.exitCode));
        }
    }
}

}  // namespace
