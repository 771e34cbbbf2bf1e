#include "ui/launcher_app_win.h"

#include <cstdio>
#include <cwchar>
#include <stdexcept>

#include "base/constants.h"
#include "base/handles_win.h"
#include "base/paths_win.h"
#include "base/step_times.h"
#include "config/settings_win.h"
#include "ui/image_table.h"
#include "ui/paint_win.h"
#include "ui/pictures_win.h"
#include "ui/ui_texts.h"
#include "ui/window_proc_win.h"
#include "ui/worker_link_win.h"

namespace {

// Pictures decode and scale on this many threads at start-up.
constexpr int kPictureThreads = 2;

struct Display {
    int32_t width = 0;
    int32_t height = 0;
    int32_t refreshHz = 0;  // 0 when the driver does not say
    int32_t dpiY = 96;
};

Display measureDisplay() {
    Display display;
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    if (EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode)) {
        display.refreshHz = static_cast<int32_t>(mode.dmDisplayFrequency);
    }
    if (HDC screen = GetDC(nullptr)) {
        display.dpiY = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    display.width = GetSystemMetrics(SM_CXSCREEN);
    display.height = GetSystemMetrics(SM_CYSCREEN);
    return display;
}

// The pictures each kind of button shows, with the height they are drawn at (0: the window scale).
struct ButtonPictures {
    ImageButton* button;
    ButtonImageIds ids;
    int32_t height;
    // Whether the first frame shows it: news cards show only once news have arrived, the gear
    // panel's and the question's buttons only once they open, which the frame loop does.
    bool onFirstFrame = true;
};

std::vector<ButtonPictures> buttonPictures(LauncherApp& app) {
    ScreenButtons& b = app.buttons;
    const ScreenLayout& L = app.layout;
    // The strip's link buttons are low and narrow: a small document leaves room for the caption.
    const int32_t stripLinkHeight = L.mainLinks[0].height * 11 / 20;
    std::vector<ButtonPictures> list = {
        {&b.close, kCloseImages, 0},
        {&b.minimise, kMinimiseImages, 0},
        {&b.gear, kGearImages, 0},
        {&b.language, kLanguageImages, 0},
        {&b.verify, kVerifyImages, 0, false},
        {&b.continueAnyway, kContinueImages, 0, false},
        {&b.tryAgain, kRetryImages, 0, false},
        {&b.tryAgainAdmin, kRetryImages, 0, false},
    };
    for (ImageButton& play : b.play) list.push_back({&play, kPlayImages, 0});
    for (ImageButton& folder : b.folders) list.push_back({&folder, kFolderImages, 0, false});
    for (ImageButton& link : b.gearLinks) list.push_back({&link, kLinkImages, 0, false});
    for (ImageButton& link : b.mainLinks) list.push_back({&link, kLinkImages, stripLinkHeight});
    // The panel frames are scaled together to the card height of the layout.
    for (ImageButton& card : b.news) list.push_back({&card, kNewsCardImages, L.news[0].height, false});
    return list;
}

void request(PictureStore& pictures, int32_t id, int32_t height) {
    if (height == 0) {
        pictures.request(id);
    } else {
        pictures.requestAtHeight(id, height);
    }
}

SharedPicture picture(const PictureStore& pictures, int32_t id, int32_t height) {
    return height == 0 ? pictures.scaled(id) : pictures.atHeight(id, height);
}

// The pictures of the first frame besides the background: the look each button it shows starts in,
// and the divider. The window shows as soon as these are ready.
void requestFirstFrame(LauncherApp& app) {
    PictureStore& pictures = *app.pictures;
    pictures.requestAtHeight(kImageDivider, static_cast<int32_t>(app.layout.rating.divider.height));
    for (const ButtonPictures& entry : buttonPictures(app)) {
        if (!entry.onFirstFrame) continue;
        request(pictures, entry.button->disabled ? entry.ids.disabled : entry.ids.normal, entry.height);
    }
}

// Every other picture: hover and press looks, the glow, the news frames.
void requestTheRest(LauncherApp& app) {
    PictureStore& pictures = *app.pictures;
    pictures.request(kImageGlow);
    for (const ButtonPictures& entry : buttonPictures(app)) {
        for (int32_t id : {entry.ids.normal, entry.ids.hovered, entry.ids.pressed, entry.ids.disabled}) {
            request(pictures, id, entry.height);
        }
    }
}

void assignPictures(LauncherApp& app) {
    const PictureStore& pictures = *app.pictures;
    for (const ButtonPictures& entry : buttonPictures(app)) {
        entry.button->images = {picture(pictures, entry.ids.normal, entry.height),
                                picture(pictures, entry.ids.hovered, entry.height),
                                picture(pictures, entry.ids.pressed, entry.height),
                                picture(pictures, entry.ids.disabled, entry.height)};
    }
    app.glow = pictures.scaled(kImageGlow);
    app.divider = pictures.atHeight(kImageDivider, static_cast<int32_t>(app.layout.rating.divider.height));
}

// Buttons that start disabled: the play buttons until a check has ended, the verify button while
// the first check runs, the answer for an elevated restart when already elevated, empty cards.
void setInitialStates(LauncherApp& app) {
    ScreenButtons& b = app.buttons;
    for (ImageButton& play : b.play) play.disabled = true;
    b.verify.disabled = true;
    b.tryAgainAdmin.disabled = app.elevated;
    for (ImageButton& card : b.news) card.disabled = true;
}

void registerWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = launcherWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kInstanceMutexName;
    if (!RegisterClassExW(&windowClass)) {
        // Registered already by an earlier application object of this process: the same class,
        // the same procedure, still usable.
        if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            throw std::runtime_error("Failed to register window class!");
    }
}

// The window, hidden until its first frame is ready: the window procedure leaves it to the system
// until the window knows its application object, which it learns only then.
HWND createHiddenWindow(HINSTANCE instance, const wchar_t* title, const WindowGeometry& geometry) {
    const HWND window =
        CreateWindowExW(0, kInstanceMutexName, title, WS_POPUP | WS_MINIMIZEBOX, geometry.left, geometry.top,
                        geometry.width, geometry.height, nullptr, nullptr, instance, nullptr);
    if (!window) throw std::runtime_error("Failed to create window!");
    HRGN region = CreateRectRgn(0, 0, geometry.width, geometry.height);
    // On success the window owns the region.
    if (region && !SetWindowRgn(window, region, TRUE)) DeleteObject(region);
    return window;
}

#ifdef VARNHOLD_STEP_TIMES
// The benchmark's copy of the launcher leaves its step times next to itself, one step a line:
// name, begin and end in milliseconds since its static initialisation.
void writeStepTimes() {
    std::FILE* file = _wfopen((launcherFolder() + L"\\startup_steps.txt").c_str(), L"w");
    if (!file) return;
    for (const step_times::Step& step : step_times::steps())
        std::fprintf(file, "%s\t%.3f\t%.3f\n", step.name, step.beginMs, step.endMs);
    std::fclose(file);
}
#else
void writeStepTimes() {}
#endif

}  // namespace

bool processIsElevated() {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
    UniqueKernelHandle token(rawToken);
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &returned))
        return false;
    return elevation.TokenIsElevated != 0;
}

LauncherApp::LauncherApp(HINSTANCE instance, int showCommand) : instance(instance) {
    // The window shows once its first frame is ready, and the background is most of that: it
    // decodes from the start, beside everything up to the window's creation, which needs no picture.
    PictureAhead backgroundAhead(instance, kImageBackground);
    // Settings first: every text built from here on is in their language.
    loadSettings();
    worker = std::make_unique<UpdateWorker>();
    shownStatus = localized(ui_texts::kInitializing);

    Display display;
    {
        TIMED_STEP("display");
        display = measureDisplay();
    }
    screenWidth = display.width;
    screenHeight = display.height;
    dpiY = display.dpiY;
    geometry = computeWindowGeometry(display.width, display.height, display.refreshHz);

    elevated = processIsElevated();

    std::wcsncpy(title, kProductTitle, 127);
    title[127] = L'\0';
    pictures = std::make_unique<PictureStore>(instance, geometry.scale);
    layout = pictures->layoutFor(geometry.width, geometry.height);
    placeScreenButtons(buttons, layout);
    applyLayoutToInput(input, layout);
    placeProgressBar(fileBar, layout.fileBar, layout.fileLabel);
    placeProgressBar(totalBar, layout.totalBar, layout.totalLabel);
    setInitialStates(*this);
    requestFirstFrame(*this);
    pictures->startLoading(1);

    {
        TIMED_STEP("font and canvas");
        Gdiplus::FontFamily family(L"Segoe UI");
        if (family.GetLastStatus() != Gdiplus::Ok) throw std::runtime_error("No font!");
        canvas = std::make_unique<Canvas>(geometry.width, geometry.height, layout.fontBase, family);
    }
    // What lies under every frame is drawn where the background is scaled, while this thread makes
    // the window: nothing here touches the canvas again before the background has arrived.
    backgroundAhead.scaleTo(geometry.height, [this](const SharedPicture& background) {
        TIMED_STEP("base layer");
        canvas->background = background;
        prepareBaseLayer(*this);
    });
    {
        TIMED_STEP("window class");
        registerWindowClass(instance);
    }
    {
        TIMED_STEP("create window");
        window = createHiddenWindow(instance, title, geometry);
    }
    {
        TIMED_STEP("first frame pictures");
        pictures->finishLoading();
        pictures->add(kImageBackground, geometry.height, backgroundAhead.picture());
        assignPictures(*this);
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    connectWorker(*this);
    {
        TIMED_STEP("show");
        ShowWindow(window, showCommand);
        UpdateWindow(window);
    }
    {
        TIMED_STEP("other pictures");
        // The looks that no button shows yet, loaded once the window is up.
        requestTheRest(*this);
        pictures->loadRequested(kPictureThreads);
        assignPictures(*this);
    }
    running = true;
    writeStepTimes();
}
