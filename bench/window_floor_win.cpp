// The floor of the window benchmarks: the least a Win32 program does to show the launcher's window
// and to wait in its frame loop, without any launcher code.
// usage: window_floor.exe plain      a popup window of the launcher's size, shown, until closed
//        window_floor.exe platform   the same after loading the system libraries the launcher
//                                    imports and starting COM and GDI+, as the launcher does first
//        window_floor.exe timer      the same window waiting in the launcher's loop: a fresh thread
//                                    timer of 16 ms per wait and an empty tick at each wake-up
#include <windows.h>

#include <cwchar>
#include <initializer_list>

namespace {

constexpr wchar_t kClassName[] = L"VarnholdWindowFloor";

LRESULT CALLBACK floorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// A function of a loaded library as the type it has (through void*: FARPROC has no parameters).
template <typename Function>
Function libraryFunction(const wchar_t* library, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(library), name)));
}

// What every start of the launcher pays before its own work: its libraries loaded, COM started for
// the thread, GDI+ started. Looked up at run time so that this program links none of them.
bool startPlatform() {
    for (const wchar_t* library : {L"advapi32.dll", L"bcrypt.dll", L"crypt32.dll", L"gdiplus.dll",
                                   L"ole32.dll", L"shell32.dll", L"version.dll", L"winhttp.dll"}) {
        if (!LoadLibraryW(library)) return false;
    }
    using CoInitializeExFn = HRESULT(WINAPI*)(void*, DWORD);
    const auto coInitializeEx = libraryFunction<CoInitializeExFn>(L"ole32.dll", "CoInitializeEx");
    if (!coInitializeEx || FAILED(coInitializeEx(nullptr, 0x2 /* COINIT_APARTMENTTHREADED */))) return false;
    // GdiplusStartupInput of version 1: the version, then a callback and two flags, all empty.
    struct StartupInput {
        UINT32 version = 1;
        void* debugCallback = nullptr;
        BOOL suppressBackgroundThread = FALSE;
        BOOL suppressExternalCodecs = FALSE;
    } input;
    using GdiplusStartupFn = int(WINAPI*)(ULONG_PTR*, const StartupInput*, void*);
    const auto gdiplusStartup = libraryFunction<GdiplusStartupFn>(L"gdiplus.dll", "GdiplusStartup");
    ULONG_PTR token = 0;
    return gdiplusStartup && gdiplusStartup(&token, &input, nullptr) == 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    const bool timerLoop = commandLine && std::wcscmp(commandLine, L"timer") == 0;
    if (commandLine && std::wcscmp(commandLine, L"platform") == 0 && !startPlatform()) return 1;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = floorProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExW(&windowClass)) return 1;
    const int height = GetSystemMetrics(SM_CYSCREEN) / 2;
    const int width = height * 16 / 9;
    HWND window = CreateWindowExW(0, kClassName, L"floor", WS_POPUP | WS_MINIMIZEBOX,
                                  (GetSystemMetrics(SM_CXSCREEN) - width) / 2, height / 2, width, height,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message{};
    if (!timerLoop) {
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
        return 0;
    }
    for (;;) {
        for (;;) {
            const UINT_PTR timer = SetTimer(nullptr, 0, 16, nullptr);
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (timer) KillTimer(nullptr, timer);
            if (got <= 0) return 0;
            if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == timer) break;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}
