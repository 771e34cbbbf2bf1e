// Stands in for a launcher that holds the instance mutex without a window (one that hangs before
// its window exists, or is ending): creates the mutex as its owner, sets the named "ready" event,
// and holds it until the named "release" event is set (or 120 s pass). Then it exits, which leaves
// the mutex abandoned, as a killed launcher would. Exits with 1 when the mutex or an event cannot
// be opened, before "ready".
// usage: hold_instance_mutex.exe READY_EVENT RELEASE_EVENT
#include <windows.h>

#include "base/constants.h"
#include "base/handles_win.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    UniqueKernelHandle mutex(CreateMutexW(nullptr, TRUE, kInstanceMutexName));
    if (!mutex) return 1;
    UniqueKernelHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
    UniqueKernelHandle release(OpenEventW(SYNCHRONIZE, FALSE, argv[2]));
    if (!ready || !release) return 1;
    SetEvent(ready.get());
    WaitForSingleObject(release.get(), 120000);
    return 0;
}
