#include "ui/launcher_app_win.h"

#include <cwchar>
#include <stdexcept>

#include "base/constants.h"
#include "base/handles_win.h"
#include "config/settings_win.h"
#include "ui/image_table.h"
#include "ui/ui_texts.h"

namespace {

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

void setImages(ImageButton& button, PictureStore& pictures, const ButtonImageIds& ids) {
    button.images = {pictures.scaled(ids.normal), pictures.scaled(ids.hovered), pictures.scaled(ids.pressed),
                     pictures.scaled(ids.disabled)};
}

void setImagesAtHeight(ImageButton& button, PictureStore& pictures, const ButtonImageIds& ids,
                       int32_t height) {
    button.images = {pictures.atHeight(ids.normal, height), pictures.atHeight(ids.hovered, height),
                     pictures.atHeight(ids.pressed, height), pictures.atHeight(ids.disabled, height)};
}

void loadButtonPictures(LauncherApp& app) {
    PictureStore& pictures = *app.pictures;
    ScreenButtons& b = app.buttons;
    setImages(b.close, pictures, kCloseImages);
    setImages(b.minimise, pictures, kMinimiseImages);
    setImages(b.gear, pictures, kGearImages);
    setImages(b.language, pictures, kLanguageImages);
    for (ImageButton& play : b.play) {
        setImages(play, pictures, kPlayImages);
        play.disabled = true;
    }
    setImages(b.verify, pictures, kVerifyImages);
    b.verify.disabled = true;
    for (ImageButton& folder : b.folders) setImages(folder, pictures, kFolderImages);
    for (ImageButton& link : b.gearLinks) setImages(link, pictures, kLinkImages);
    setImages(b.continueAnyway, pictures, kContinueImages);
    setImages(b.tryAgain, pictures, kRetryImages);
    setImages(b.tryAgainAdmin, pictures, kRetryImages);
    b.tryAgainAdmin.disabled = app.elevated;
    // Cards are empty until news arrive.
    for (ImageButton& card : b.news) card.disabled = true;
    app.glow = pictures.scaled(kImageGlow);
}

// Pictures whose size follows the layout rather than the window scale.
void loadLayoutPictures(LauncherApp& app) {
    PictureStore& pictures = *app.pictures;
    const ScreenLayout& L = app.layout;
    // The strip's link buttons are low and narrow: a small document leaves room for the caption.
    for (ImageButton& link : app.buttons.mainLinks) {
        setImagesAtHeight(link, pictures, kLinkImages, L.mainLinks[0].height * 11 / 20);
    }
    for (ImageButton& card : app.buttons.news)
        setImagesAtHeight(card, pictures, kNewsCardImages, L.news[0].height);
    app.divider = pictures.atHeight(kImageDivider, static_cast<int32_t>(L.rating.divider.height));
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
    // Settings first: every text built from here on is in their language.
    loadSettings();
    worker = std::make_unique<UpdateWorker>();
    shownStatus = localized(ui_texts::kInitializing);

    const Display display = measureDisplay();
    screenWidth = display.width;
    screenHeight = display.height;
    dpiY = display.dpiY;
    geometry = computeWindowGeometry(display.width, display.height, display.refreshHz);

    elevated = processIsElevated();

    std::wcsncpy(title, kProductTitle, 127);
    title[127] = L'\0';
    pictures = std::make_unique<PictureStore>(instance, geometry.scale);
    loadButtonPictures(*this);

    // The play buttons take the size of their picture; without one, the size it would have.
    PixelSize playSize = pictures->scaledSize(kImagePlayNormal);
    if (playSize.width == 0) playSize = scaledPictureSize(kPlayButtonSize, geometry.scale);
    layout = computeLayout(geometry.width, geometry.height, playSize);
    placeScreenButtons(buttons, layout);
    applyLayoutToInput(input, layout);
    placeProgressBar(fileBar, layout.fileBar, layout.fileLabel);
    placeProgressBar(totalBar, layout.totalBar, layout.totalLabel);
    loadLayoutPictures(*this);

    {
        Gdiplus::FontFamily family(L"Segoe UI");
        if (family.GetLastStatus() != Gdiplus::Ok) throw std::runtime_error("No font!");
        canvas = std::make_unique<Canvas>(geometry.width, geometry.height, layout.fontBase, family);
    }
    canvas->background = pictures->atHeight(kImageBackground, geometry.height);

    registerWindowClass(instance);
    window =
        CreateWindowExW(0, kInstanceMutexName, title, WS_POPUP | WS_MINIMIZEBOX, geometry.left, geometry.top,
                        geometry.width, geometry.height, nullptr, nullptr, instance, nullptr);
    if (!window) throw std::runtime_error("Failed to create window!");
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    connectWorker(*this);

    HRGN region = CreateRectRgn(0, 0, geometry.width, geometry.height);
    // On success the window owns the region.
    if (region && !SetWindowRgn(window, region, TRUE)) DeleteObject(region);

    ShowWindow(window, showCommand);
    UpdateWindow(window);
    running = true;
}
