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

// The launcher-update line; the published launcher's version follows ("... v1.17").
inline constexpr TextPair kLauncherUpdatePrefix = {L"Updating the launcher to v",
                                                   L"Обновление лаунчера до v"};

// Outcomes of an update run, one per final message.
inline constexpr TextPair kNoConnectionText = {L"Could not connect to the update server!",
                                               L"Не удалось подключиться к серверу обновлений!"};
inline constexpr TextPair kDowngradeSkippedText = {
    L"Server version is older than installed — downgrade skipped.",
    L"Серверная версия старее установленной — откат пропущен."};
inline constexpr TextPair kAlreadyInstalledText = {L"Latest version already installed!",
                                                   L"Установлена последняя версия!"};
inline constexpr TextPair kPatchInfoMissingText = {
    L"The game was not updated and may not work correctly:\nfailed to load patch info!",
    L"Игра не была обновлена и может работать неправильно:\nне удалось загрузить информацию о патче!"};
inline constexpr TextPair kPatchSignatureMissingText = {
    L"The game was not updated and may not work correctly:\nfailed to load the patch signature!",
    L"Игра не была обновлена и может работать неправильно:\nне удалось загрузить подпись патча!"};
inline constexpr TextPair kPatchSignatureInvalidText = {
    L"The game was not updated and may not work correctly:\npatch info signature verification failed!",
    L"Игра не была обновлена и может работать неправильно:\nподпись информации о патче не прошла проверку!"};
inline constexpr TextPair kPatchInfoCorruptText = {
    L"The game was not updated and may not work correctly:\ncorrupted patch info!",
    L"Игра не была обновлена и может работать неправильно:\nповрежденная информация о патче!"};
inline constexpr TextPair kUncheckedFilesText = {
    L"The game was not updated and may not work correctly:\nsome local files could not be checked!",
    L"Игра не была обновлена и может работать неправильно:\nчасть локальных файлов не удалось проверить!"};
inline constexpr TextPair kNothingToUpdateUncheckedText = {
    L"The game was not updated and may not work correctly:\nnothing to update, but some files could not be "
    L"checked!",
    L"Игра не была обновлена и может работать неправильно:\nобновлять нечего, но часть файлов не удалось "
    L"проверить!"};
inline constexpr TextPair kAllCheckedText = {L"All files checked and up to date!",
                                             L"Все файлы проверены и актуальны!"};
inline constexpr TextPair kFilesInUseText = {
    L"The game was not updated and may not work correctly:\nsome files are in use by another program or "
    L"access is denied.",
    L"Игра не была обновлена и может работать неправильно:\nчасть файлов занята другой программой или нет "
    L"прав доступа."};
inline constexpr TextPair kDownloadFailedText = {
    L"The game was not updated and may not work correctly:\nsome files could not be downloaded.",
    L"Игра не была обновлена и может работать неправильно:\nчасть файлов не удалось скачать."};
inline constexpr TextPair kAllUpdatedText = {L"All files updated successfully!",
                                             L"Все файлы успешно обновлены!"};
