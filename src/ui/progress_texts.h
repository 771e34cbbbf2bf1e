#pragma once

#include "config/settings.h"

// The progress labels' texts, English and Russian side by side, chosen when a label is built.

// Before the name of the file being worked on.
inline constexpr TextPair kDownloadingFileLabel = {L"Downloading: ", L"Скачивание: "};
inline constexpr TextPair kCheckingFileLabel = {L"Checking: ", L"Проверка: "};
inline constexpr TextPair kUpdatingFileLabel = {L"Updating: ", L"Обновление: "};
// Around the transfer rate, " · 1.5 MB/s".
inline constexpr TextPair kRateOpener = {L" · ", L" · "};
inline constexpr TextPair kRateCloser = {L" MB/s", L" МБ/с"};

// "File 4 of 10 · 50/200 MB" and then the remaining time.
inline constexpr TextPair kFileCountOpener = {L"File ", L"Файл "};
inline constexpr TextPair kFileCountSeparator = {L" of ", L" из "};
inline constexpr TextPair kMegabytesCloser = {L" MB", L" МБ"};
inline constexpr TextPair kMinutesLeftOpener = {L" · ~", L" · осталось ~"};
inline constexpr TextPair kMinutesLeftCloser = {L" min left", L" мин"};
inline constexpr TextPair kUnderAMinuteText = {L" · under a minute", L" · меньше минуты"};
