#include "ui/shell_win.h"

#include <windows.h>

#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

#include <memory>

namespace {

ShellHooks hooks;

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
    const bool started =
        ready && SUCCEEDED(shell->ShellExecute(file, parameters.value, folder.value, verb.value, show.value));
    SysFreeString(file);
    return started;
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
    return startUnelevated({program, L"", folder, nullptr, SW_SHOWDEFAULT}, elevated);
}

bool runElevated(const WString& executable, const WString& parameters) {
    if (hooks.runElevated) return hooks.runElevated(executable, parameters);
    // This instance ends as soon as the elevated copy has started.
    return shellExecute({executable, parameters, L"", L"runas", SW_SHOWDEFAULT}, SEE_MASK_NOASYNC).started;
}
