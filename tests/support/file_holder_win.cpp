#include "support/file_holder_win.h"

#include <atomic>

#include "support/test_env_win.h"

namespace {

constexpr DWORD kStartLimitMs = 30000;
constexpr DWORD kEndLimitMs = 10000;

}  // namespace

FileHolder::FileHolder(const WString& path, const std::wstring& access, const std::wstring& sharing) {
    static std::atomic<int> counter{0};
    const std::wstring stem = L"VarnholdTestFileHolder-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(counter++);
    ready.reset(CreateEventW(nullptr, TRUE, FALSE, (stem + L"-ready").c_str()));
    releaseEvent.reset(CreateEventW(nullptr, TRUE, FALSE, (stem + L"-release").c_str()));
    if (!ready || !releaseEvent) return;

    const WString helper =
        winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/hold_open_file.exe");
    child = startChild(helper, L"\"" + helper + L"\" \"" + path + L"\" " + access + L" " + sharing + L" " +
                                   stem + L"-ready " + stem + L"-release");
    if (!child) return;
    // The helper ends before "ready" when it cannot open the file.
    const HANDLE waits[2] = {ready.get(), child.process.get()};
    held = WaitForMultipleObjects(2, waits, FALSE, kStartLimitMs) == WAIT_OBJECT_0;
}

FileHolder::~FileHolder() { (void)release(); }

bool FileHolder::release() {
    if (releaseEvent) SetEvent(releaseEvent.get());
    return child && WaitForSingleObject(child.process.get(), kEndLimitMs) == WAIT_OBJECT_0;
}
