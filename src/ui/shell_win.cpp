#include "ui/shell_win.h"

#include <windows.h>

#include <shellapi.h>

namespace {

ShellHooks hooks;

}  // namespace

void setShellHooksForTests(const ShellHooks& replacement) { hooks = replacement; }

bool openWebPage(const WString& target, const wchar_t* verb) {
    if (hooks.openWebPage) return hooks.openWebPage(target, verb);
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, verb, target.c_str(), nullptr, nullptr, SW_SHOW));
    return result > 32;
}

bool runElevated(const WString& executable, const WString& parameters) {
    if (hooks.runElevated) return hooks.runElevated(executable, parameters);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.lpVerb = L"runas";
    info.lpFile = executable.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWDEFAULT;
    return ShellExecuteExW(&info) != FALSE;
}
