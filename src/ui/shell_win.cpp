#include "ui/shell_win.h"

#include <windows.h>

#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "base/handles_win.h"

namespace {

ShellHooks hooks;

// How long a program handed to the desktop's shell is given to show up as a process.
constexpr DWORD kShellStartConfirmMs = 8000;
constexpr DWORD kShellStartPollMs = 20;

template <typename Interface>
struct ComRelease {
    void operator()(Interface* object) const { object->Release(); }
};
template <typename Interface>
using ComPointer = std::unique_ptr<Interface, ComRelease<Interface>>;

// Asks `from` for another interface of the same object; null when it has none.
template <typename Interface>
ComPointer<Interface> queryInterface(IUnknown* from, REFIID id) {
    void* raw = nullptr;
    if (!from || FAILED(from->QueryInterface(id, &raw))) return nullptr;
    return ComPointer<Interface>(static_cast<Interface*>(raw));
}

// A VARIANT that clears what it holds (a BSTR is freed).
class Variant {
public:
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    // A text; false when it could not be allocated.
    [[nodiscard]] bool setText(const WString& text) {
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return V_BSTR(&value) != nullptr;
    }
    void setNumber(LONG number) {
        V_VT(&value) = VT_I4;
        V_I4(&value) = number;
    }

    VARIANT value;
};

// The desktop's shell, reached as the desktop window's own folder view reaches it: the shell
// window of the desktop, its top-level browser, the active view's background object, and that
// folder view's Application. Null at the first step that fails.
ComPointer<IShellDispatch2> desktopShellDispatch() {
    void* raw = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows, &raw))) {
        return nullptr;
    }
    const ComPointer<IShellWindows> windows(static_cast<IShellWindows*>(raw));
    Variant desktopLocation;
    desktopLocation.setNumber(CSIDL_DESKTOP);
    Variant noRoot;
    LONG desktopWindow = 0;
    IDispatch* rawDesktop = nullptr;
    if (windows->FindWindowSW(&desktopLocation.value, &noRoot.value, SWC_DESKTOP, &desktopWindow,
                              SWFO_NEEDDISPATCH, &rawDesktop) != S_OK ||
        !rawDesktop) {
        return nullptr;
    }
    const ComPointer<IDispatch> desktop(rawDesktop);
    const auto services = queryInterface<IServiceProvider>(desktop.get(), IID_IServiceProvider);
    raw = nullptr;
    if (!services || FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, &raw))) {
        return nullptr;
    }
    const ComPointer<IShellBrowser> browser(static_cast<IShellBrowser*>(raw));
    IShellView* rawView = nullptr;
    if (FAILED(browser->QueryActiveShellView(&rawView)) || !rawView) return nullptr;
    const ComPointer<IShellView> view(rawView);
    raw = nullptr;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, &raw)) || !raw) return nullptr;
    const ComPointer<IDispatch> background(static_cast<IDispatch*>(raw));
    const auto folderView = queryInterface<IShellFolderViewDual>(background.get(), IID_IShellFolderViewDual);
    IDispatch* rawApplication = nullptr;
    if (!folderView || FAILED(folderView->get_Application(&rawApplication)) || !rawApplication)
        return nullptr;
    const ComPointer<IDispatch> application(rawApplication);
    return queryInterface<IShellDispatch2>(application.get(), IID_IShellDispatch2);
}

bool shellThroughDesktop(const ShellRequest& request) {
    const ComPointer<IShellDispatch2> shell = desktopShellDispatch();
    if (!shell) return false;
    const BSTR file = SysAllocStringLen(request.file.data(), static_cast<UINT>(request.file.size()));
    if (!file) return false;
    Variant parameters, folder, verb, show;
    show.setNumber(request.show);
    const bool ready = parameters.setText(request.parameters) && folder.setText(request.folder) &&
                       verb.setText(request.verb ? request.verb : L"");
    // S_OK only: S_FALSE is a "succeeded" code, and the way the shell says that it did not start.
    const bool taken =
        ready && shell->ShellExecute(file, parameters.value, folder.value, verb.value, show.value) == S_OK;
    SysFreeString(file);
    return taken;
}

// The file behind a path, whatever its spelling.
struct FileIdentity {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && high == other.high && low == other.low;
    }
};

std::optional<FileIdentity> identityOf(const wchar_t* path) {
    UniqueKernelHandle file(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information)) return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                        information.nFileIndexLow};
}

// The processes running `program` now.
std::vector<DWORD> processesRunning(const WString& program, const FileIdentity& identity) {
    std::vector<DWORD> found;
    UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return found;
    const WString name = program.substr(program.find_last_of(L"\\/") + 1);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (CompareStringOrdinal(entry.szExeFile, -1, name.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
        UniqueKernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t image[MAX_PATH * 4];
        DWORD length = static_cast<DWORD>(std::size(image));
        if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &length)) continue;
        if (identityOf(image) == std::optional<FileIdentity>(identity)) found.push_back(entry.th32ProcessID);
    }
    return found;
}

enum class ShellStartResult { NotTaken, Started, NotStarted };

// The desktop's shell answers as soon as it has taken the request: whether the program then
// started, it does not report (it shows its own error, if any). So the start counts only once a
// new process of that program shows up. The window goes on answering meanwhile.
ShellStartResult startProgramThroughDesktopShell(const ShellRequest& request) {
    const std::optional<FileIdentity> identity = identityOf(request.file.c_str());
    if (!identity) return ShellStartResult::NotTaken;
    const std::vector<DWORD> before = processesRunning(request.file, *identity);
    if (!startThroughDesktopShell(request)) return ShellStartResult::NotTaken;
    const DWORD limit = hooks.confirmStartMs ? hooks.confirmStartMs : kShellStartConfirmMs;
    const ULONGLONG deadline = GetTickCount64() + limit;
    do {
        for (const DWORD running : processesRunning(request.file, *identity)) {
            if (std::find(before.begin(), before.end(), running) == before.end())
                return ShellStartResult::Started;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kShellStartPollMs, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // The window was closed meanwhile: the frame loop must still see it.
                PostQuitMessage(static_cast<int>(message.wParam));
                return ShellStartResult::NotStarted;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    } while (GetTickCount64() < deadline);
    return ShellStartResult::NotStarted;
}

bool startDirectly(const ShellRequest& request) {
    if (hooks.startDirectly) return hooks.startDirectly(request);
    // The launcher may end right after this call (the game started): the shell must have finished
    // with the start before it returns.
    return shellExecute(request, SEE_MASK_NOASYNC).started;
}

// Without the launcher's elevation when it has one; directly when the desktop's shell cannot be
// asked.
bool startUnelevated(const ShellRequest& request, bool elevated) {
    return (elevated && startThroughDesktopShell(request)) || startDirectly(request);
}

}  // namespace

void setShellHooksForTests(const ShellHooks& replacement) { hooks = replacement; }

bool startThroughDesktopShell(const ShellRequest& request) {
    if (hooks.startThroughDesktopShell) return hooks.startThroughDesktopShell(request);
    return shellThroughDesktop(request);
}

bool openWebPage(const WString& target, const wchar_t* verb, bool elevated) {
    if (hooks.openWebPage) return hooks.openWebPage(target, verb);
    return startUnelevated({target, L"", L"", verb, SW_SHOW}, elevated);
}

bool startProgram(const WString& program, const WString& folder, bool elevated) {
    const ShellRequest request{program, L"", folder, nullptr, SW_SHOWDEFAULT};
    if (!elevated) return startDirectly(request);
    // Once the desktop's shell has taken the request, the launcher does not start the game itself
    // as well: it would run elevated, and perhaps twice.
    switch (startProgramThroughDesktopShell(request)) {
        case ShellStartResult::Started:
            return true;
        case ShellStartResult::NotStarted:
            return false;
        case ShellStartResult::NotTaken:
            break;
    }
    return startDirectly(request);
}

bool runElevated(const WString& executable, const WString& parameters) {
    if (hooks.runElevated) return hooks.runElevated(executable, parameters);
    // This instance ends as soon as the elevated copy has started.
    return shellExecute({executable, parameters, L"", L"runas", SW_SHOWDEFAULT}, SEE_MASK_NOASYNC).started;
}
