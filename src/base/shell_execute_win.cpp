#include "base/shell_execute_win.h"

ShellStart shellExecute(const ShellRequest& request, ULONG mask) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = mask;
    info.lpVerb = request.verb;
    info.lpFile = request.file.c_str();
    info.lpParameters = request.parameters.empty() ? nullptr : request.parameters.c_str();
    info.lpDirectory = request.folder.empty() ? nullptr : request.folder.c_str();
    info.nShow = request.show;
    ShellStart start;
    start.started = ShellExecuteExW(&info) != FALSE;
    if (start.started && (mask & SEE_MASK_NOCLOSEPROCESS)) start.process.reset(info.hProcess);
    return start;
}
