#pragma once

#include "config/settings.h"

// The updater's own texts, English and Russian side by side. Each is chosen with localized() at
// the moment it is stored, so a text that was already built keeps its language.

// Status line of the progress states.
inline constexpr TextPair kDetectingVersionText = {L"Detecting installed version...",
                                                   L"Определение установленной версии..."};
inline constexpr TextPair kCheckingForUpdatesText = {L"Checking for updates...", L"Проверка обновлений..."};
inline constexpr TextPair kDownloadingPatchInfoText = {L"Downloading patch info...",
                                                       L"Загрузка информации о патче..."};

// Label of the item being worked on while the launcher itself is downloaded.
inline constexpr TextPair kLauncherUpdateLabel = {L"Launcher update", L"Обновление лаунчера"};

// Why a listed file failed, shown next to its path in the failure lists. Every reason of the
// updater lives in this table.
inline constexpr TextPair kReasonCrossesLink = {L"path crosses a symlink/junction",
                                                L"путь проходит через ссылку/junction"};
inline constexpr TextPair kReasonCannotOpenForCheck = {L"could not open for checking",
                                                       L"не удалось открыть для проверки"};
inline constexpr TextPair kReasonDownload = {L"download failed", L"не удалось скачать"};
inline constexpr TextPair kReasonHashUnreadable = {L"could not open for verification",
                                                   L"не удалось открыть для сверки"};
inline constexpr TextPair kReasonHashMismatch = {L"file failed verification", L"файл не прошел проверку"};
inline constexpr TextPair kReasonUnpack = {L"could not unpack", L"не удалось распаковать"};
inline constexpr TextPair kReasonUnpackedMismatch = {L"unpacked file failed verification",
                                                     L"распакованный файл не прошел проверку"};
inline constexpr TextPair kReasonReplace = {L"could not replace file", L"не удалось заменить файл"};

// Label of the item being worked on while the small-files bundle is fetched and applied.
inline constexpr TextPair kBundleLabel = {L"Small files bundle", L"Пакет мелких файлов"};

// The failure list: one header chosen by the update run, then up to three lines
// "\n" + path + opener + reason + closer, then the overflow line opener + count + closer.
inline constexpr TextPair kCheckFailuresHeader = {L"Could not check the following files:\n",
                                                  L"Не удалось проверить следующие файлы:\n"};
inline constexpr TextPair kUpdateFailuresHeader = {L"Could not update the following files:\n",
                                                   L"Не удалось обновить следующие файлы:\n"};
inline constexpr TextPair kFailureReasonOpener = {L" (error: ", L" (ошибка: "};
inline constexpr TextPair kFailureReasonCloser = {L")", L")"};
inline constexpr TextPair kFailureOverflowOpener = {L"\n\n... and ", L"\n\n... и еще "};
inline constexpr TextPair kFailureOverflowCloser = {L" more.", L"."};
