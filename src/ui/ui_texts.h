#pragma once

#include "config/settings.h"

// Every user-visible text of the window, English and Russian side by side.
namespace ui_texts {

// The status line until the first tick copies the update engine's.
inline constexpr TextPair kInitializing = {L"Initializing...", L"Initializing..."};

inline constexpr TextPair kFirstRunCaption = {L"Varnhold", L"Варнхольд"};
inline constexpr TextPair kFirstRunText = {
    L"Looks like the launcher is running for the first time.\n\nChoose the folder where the game is "
    L"installed (it "
    L"contains Tharnvl2.exe).\nBranch folders can be changed later from the gear menu.",
    L"Похоже, лаунчер запущен впервые.\n\nУкажите папку, где установлена игра (в ней лежит "
    L"Tharnvl2.exe).\nПапки "
    L"веток можно поменять позже через меню шестеренки."};

inline constexpr TextPair kSettingsNotSavedCaption = {L"Settings not saved", L"Настройки не сохранены"};
inline constexpr TextPair kSettingsNotSavedText = {L"Could not save launcher.ini next to the launcher.",
                                                   L"Не удалось сохранить launcher.ini рядом с лаунчером."};

inline constexpr TextPair kTitle = {L"Tharnveil II — Varnhold", L"Tharnveil II — Варнхольд"};
inline constexpr wchar_t kLauncherVersionPrefix[] = L"Launcher V";
// Drawn over the language button: the language it switches to.
inline constexpr TextPair kOtherLanguageCode = {L"RU", L"EN"};

inline constexpr TextPair kPlay = {L"PLAY", L"ИГРАТЬ"};
inline constexpr TextPair kVerifyFiles = {L"Verify game files", L"Проверить файлы игры"};
inline constexpr TextPair kVerifying = {L"Checking...", L"Проверка..."};
inline constexpr TextPair kFolderPrefix = {L"Folder — ", L"Папка — "};
inline constexpr TextPair kDownloadClientPrefix = {L"Download client — ", L"Скачать клиент — "};
inline constexpr TextPair kDownloadPrefix = {L"Download ", L"Скачать "};

// Short names of the branches on the link and folder buttons, in branch table order.
inline constexpr const wchar_t* kLinkLabels[2] = {L"TVX", L"KTVX"};

inline constexpr TextPair kContinueAnyway = {L"Continue anyway", L"Продолжить все равно"};
inline constexpr TextPair kTryAgain = {L"Try again", L"Повторить"};
inline constexpr TextPair kTryAgainAsAdministrator = {L"Try again as administrator",
                                                      L"Повторить от имени администратора"};

}  // namespace ui_texts
