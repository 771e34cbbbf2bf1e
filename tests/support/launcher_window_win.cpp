#include "support/launcher_window_win.h"

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

#include "base/constants.h"
#include "branches/game_folder_win.h"
#include "config/text_convert.h"
#include "support/test_env_win.h"
#include "support/wait_until.h"
#include "ui/image_table.h"

namespace {

std::string testName() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "outside-test";
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return name;
}

bool xdotool(const std::string& arguments) { return runUnixShell("xdotool " + arguments, 15000) == 0; }

std::string screenPoint(HWND window, int x, int y) {
    const POINT origin = clientOrigin(window);
    return std::to_string(origin.x + x) + " " + std::to_string(origin.y + y);
}

}  // namespace

HWND threadLauncherWindow(DWORD threadId) {
    HWND found = nullptr;
    EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM result) -> BOOL {
            wchar_t className[128] = {};
            GetClassNameW(window, className, 128);
            if (WString(className) != kInstanceMutexName) return TRUE;
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

void startGdiplusOnce() {
    static const ULONG_PTR token = [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR started = 0;
        Gdiplus::GdiplusStartup(&started, &input, nullptr);
        return started;
    }();
    (void)token;
}

WString builtLauncherPath() {
    return winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/VarnholdLauncher.exe");
}

LauncherProcess::LauncherProcess(const WString& folder) : home(folder) {
    exe = folder + L"\\VarnholdLauncher.exe";
    const WString built = builtLauncherPath();
    copyOk = makeFolders(folder) && CopyFileW(built.c_str(), exe.c_str(), FALSE);
}

LauncherProcess::~LauncherProcess() {
    if (child && WaitForSingleObject(child.process.get(), 0) != WAIT_OBJECT_0) {
        TerminateProcess(child.process.get(), 1);
        WaitForSingleObject(child.process.get(), 10000);
    }
}

bool LauncherProcess::start(const WString& tail) {
    WString commandLine = L"\"" + exe + L"\"";
    if (!tail.empty()) commandLine += L" " + tail;
    const size_t cut = home.find_last_of(L'\\');
    child = startChild(exe, commandLine, ChildOptions(cut == WString::npos ? home : home.substr(0, cut)));
    return static_cast<bool>(child);
}

HWND LauncherProcess::waitForWindow(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (HWND found = threadLauncherWindow(child.threadId)) {
            if (IsWindowVisible(found)) return mainWindow = found;
        }
        if (WaitForSingleObject(child.process.get(), 10) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

std::optional<DWORD> LauncherProcess::waitForExit(int timeoutMs) {
    if (!child || WaitForSingleObject(child.process.get(), static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    return code;
}

bool LauncherProcess::close(int timeoutMs) {
    if (!child) return true;
    if (mainWindow && IsWindow(mainWindow)) PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    if (waitForExit(timeoutMs)) return true;
    TerminateProcess(child.process.get(), 1);
    WaitForSingleObject(child.process.get(), 10000);
    return false;
}

BrowserStandIn::BrowserStandIn(const WString& logPath) : log(logPath) {
    DeleteFileW(log.c_str());
    const WString command =
        L"\"" + winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/record_url.exe") +
        L"\" --log \"" + log + L"\" \"%1\"";
    ok = true;
    // Left in place afterwards: the prefix then never starts a real browser from a test.
    for (const wchar_t* scheme : {L"http", L"https"}) {
        const WString key = WString(scheme) + L"\\shell\\open\\command";
        ok = ok &&
             RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, command.c_str(),
                             static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
}

std::vector<std::string> BrowserStandIn::opened() const {
    std::vector<std::string> lines;
    const auto text = readFileBytes(log);
    if (!text) return lines;
    size_t start = 0;
    for (size_t end; (end = text->find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text->substr(start, end - start));
    }
    return lines;
}

bool BrowserStandIn::waitForCount(size_t count, int timeoutMs) const {
    return waitUntil([&] { return opened().size() >= count; }, timeoutMs);
}

std::vector<HWND> allLauncherWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            wchar_t className[128] = {};
            GetClassNameW(window, className, 128);
            if (WString(className) == kInstanceMutexName)
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND findLauncherWindow() { return FindWindowW(kInstanceMutexName, nullptr); }

bool noLauncherWindowLeft(int timeoutMs) {
    return waitUntil([] { return findLauncherWindow() == nullptr; }, timeoutMs);
}

bool closeTo(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string describe(const Rgb& colour) {
    char text[32];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", colour.r, colour.g, colour.b);
    return text;
}

Rgb shaded(const Rgb& under) {
    const double keep = 1 - 0x4C / 255.0;
    return {static_cast<int>(under.r * keep + 0.5), static_cast<int>(under.g * keep + 0.5),
            static_cast<int>(under.b * keep + 0.5)};
}

bool Screenshot::take(const std::string& name) {
    const std::string folder = std::string(VARNHOLD_BINARY_DIR) + "/test-run/screenshots";
    const std::string png = folder + "/" + testName() + "-" + name + ".png";
    const std::string ppm = folder + "/" + testName() + "-" + name + ".ppm";
    const int status =
        runUnixShell("mkdir -p " + shellQuote(folder) + " && import -window root -depth 8 " +
                         shellQuote(png) + " && convert " + shellQuote(png) + " " + shellQuote(ppm),
                     30000);
    if (status != 0) return false;
    const auto bytes = readFileBytes(winePathFromUnix(ppm));
    DeleteFileW(winePathFromUnix(ppm).c_str());
    if (!bytes) return false;
    // Binary PPM: "P6", width, height, maximum value, one whitespace, then RGB bytes.
    int fields[3] = {};
    size_t at = 2;
    if (bytes->compare(0, 2, "P6") != 0) return false;
    for (int& field : fields) {
        while (at < bytes->size() && std::isspace(static_cast<unsigned char>((*bytes)[at]))) ++at;
        while (at < bytes->size() && std::isdigit(static_cast<unsigned char>((*bytes)[at]))) {
            field = field * 10 + ((*bytes)[at++] - '0');
        }
    }
    ++at;
    w = fields[0];
    h = fields[1];
    if (fields[2] != 255 || bytes->size() < at + static_cast<size_t>(w) * h * 3) return false;
    rgb.assign(bytes->begin() + static_cast<std::ptrdiff_t>(at), bytes->end());
    return true;
}

Rgb Screenshot::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return {-1, -1, -1};
    const size_t i = (static_cast<size_t>(y) * w + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

POINT clientOrigin(HWND window) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return origin;
}

namespace mouse {

bool click(HWND window, int x, int y) {
    return xdotool("mousemove " + screenPoint(window, x, y) + " sleep 0.05 click 1");
}

bool drag(HWND window, int fromX, int fromY, int toX, int toY) {
    std::string steps = "mousemove " + screenPoint(window, fromX, fromY) + " sleep 0.05 mousedown 1";
    for (int i = 1; i <= 5; ++i) {
        steps += " sleep 0.05 mousemove " +
                 screenPoint(window, fromX + (toX - fromX) * i / 5, fromY + (toY - fromY) * i / 5);
    }
    return xdotool(steps + " sleep 0.05 mouseup 1");
}

}  // namespace mouse

ExePictures::ExePictures(const WString& exePath) {
    startGdiplusOnce();
    module =
        LoadLibraryExW(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

ExePictures::~ExePictures() {
    if (module) FreeLibrary(module);
}

bool ExePictures::any() const {
    return module && FindResourceW(module, MAKEINTRESOURCEW(kImageBackground), L"PNG");
}

std::unique_ptr<Gdiplus::Bitmap> ExePictures::at(int32_t id, PixelSize size) const {
    DecodedPng source = load(id);
    return source.bitmap ? resizedBitmap(*source.bitmap, size) : nullptr;
}

PixelSize ExePictures::sizeAt(int32_t id, int32_t windowHeight) const {
    const PixelSize stored = module ? pngResourceSize(module, id) : PixelSize{};
    return stored.width == 0 ? PixelSize{}
                             : scaledPictureSize(stored, static_cast<float>(windowHeight) / 1080.0f);
}

ScreenLayout ExePictures::layoutOf(HWND window) const {
    RECT client{};
    GetClientRect(window, &client);
    return PictureStore(module, static_cast<float>(client.bottom) / 1080.0f)
        .layoutFor(client.right, client.bottom);
}

std::optional<POINT> solidPixelIn(Gdiplus::Bitmap& bitmap, double left, double top, double right,
                                  double bottom) {
    const int width = static_cast<int>(bitmap.GetWidth());
    const int height = static_cast<int>(bitmap.GetHeight());
    for (int y = static_cast<int>(top * height); y < static_cast<int>(bottom * height); ++y) {
        for (int x = static_cast<int>(left * width); x < static_cast<int>(right * width); ++x) {
            Gdiplus::Color colour;
            if (bitmap.GetPixel(x, y, &colour) == Gdiplus::Ok && colour.GetA() >= 200) return POINT{x, y};
        }
    }
    return std::nullopt;
}

Rgb pixelOf(Gdiplus::Bitmap& bitmap, int x, int y) {
    Gdiplus::Color colour;
    bitmap.GetPixel(x, y, &colour);
    return {colour.GetR(), colour.GetG(), colour.GetB()};
}

Rgb blend(Gdiplus::Bitmap& over, int x, int y, const Rgb& under) {
    Gdiplus::Color colour;
    over.GetPixel(x, y, &colour);
    const double a = colour.GetA() / 255.0;
    auto mix = [&](int top, int bottom) { return static_cast<int>(top * a + bottom * (1 - a) + 0.5); };
    return {mix(colour.GetR(), under.r), mix(colour.GetG(), under.g), mix(colour.GetB(), under.b)};
}

double differingShare(const Screenshot& shot, POINT origin, Gdiplus::Bitmap& expected, const IntRect& area,
                      int tolerance) {
    int differing = 0;
    int total = 0;
    for (int y = area.top; y < area.bottom(); ++y) {
        for (int x = area.left; x < area.right(); ++x) {
            ++total;
            if (!closeTo(shot.atClient(origin, x, y), pixelOf(expected, x, y), tolerance)) ++differing;
        }
    }
    return total ? static_cast<double>(differing) / total : 0;
}
