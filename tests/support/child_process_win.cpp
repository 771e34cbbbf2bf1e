#include "support/child_process_win.h"

namespace {

constexpr DWORD kTerminatedExitCode = 99;
constexpr DWORD kTerminationLimitMs = 10000;

// A file that the child inherits as a standard handle.
UniqueKernelHandle inheritableFile(const WString& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return UniqueKernelHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

ChildProcess startChild(const WString& application, std::wstring commandLine, const ChildOptions& options) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    UniqueKernelHandle output;
    UniqueKernelHandle error;
    if (!options.outputPath.empty()) {
        output = inheritableFile(options.outputPath);
        error = options.errorPath.empty() ? UniqueKernelHandle() : inheritableFile(options.errorPath);
        if (!output || (!options.errorPath.empty() && !error)) return ChildProcess();
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.get();
        startup.hStdError = error ? error.get() : output.get();
    }
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr,
                        nullptr, output ? TRUE : FALSE, 0, nullptr,
                        options.workingFolder.empty() ? nullptr : options.workingFolder.c_str(), &startup,
                        &started)) {
        return ChildProcess();
    }
    ChildProcess child;
    child.process.reset(started.hProcess);
    child.thread.reset(started.hThread);
    child.threadId = started.dwThreadId;
    return child;
}

bool startLinuxProgram(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION ignored{};
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &ignored) != FALSE;
}

std::optional<DWORD> waitForChild(const ChildProcess& child, DWORD limitMs) {
    if (!child) return std::nullopt;
    if (WaitForSingleObject(child.process.get(), limitMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.process.get(), kTerminatedExitCode);
        WaitForSingleObject(child.process.get(), kTerminationLimitMs);
        return std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(child.process.get(), &code)) return std::nullopt;
    return code;
}
