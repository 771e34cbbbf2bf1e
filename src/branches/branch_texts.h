#pragma once

#include "config/settings.h"

// Every user-visible text of the branch folders, English and Russian side by side.
namespace branch_texts {

// Status texts of the summary line.
inline constexpr TextPair kUnknown = {L"?", L"?"};
inline constexpr TextPair kReady = {L"ready", L"готово"};
inline constexpr TextPair kServerUnavailable = {L"server unavailable", L"сервер недоступен"};
inline constexpr TextPair kFolderNotSet = {L"folder not set", L"папка не выбрана"};
inline constexpr TextPair kNotPublished = {L"update not published", L"обновление не опубликовано"};
inline constexpr TextPair kDuplicateFolder = {L"duplicate folder!", L"папки совпадают!"};
inline constexpr TextPair kMss23Lost = {L"Mss23.dll is lost — reinstall the game!",
                                        L"потерян Mss23.dll — переустановите игру!"};
inline constexpr TextPair kNoGameExe = {L"no Tharnvl2.exe in folder!", L"в папке нет Tharnvl2.exe!"};
inline constexpr TextPair kNotGameFolder = {L"not a game folder!", L"это не папка с игрой!"};
inline constexpr TextPair kWorkTree = {L"git folder — update blocked", L"git-папка — без обновления"};

// Captions drawn in the lower part of a play button. The gear sign points to the gear menu, where
// the branch folders are chosen.
inline constexpr TextPair kCaptionFolderNotSet = {L"choose folder ⚙", L"укажите папку ⚙"};
inline constexpr TextPair kCaptionSharedFolder = {L"shares folder with other branch ⚙",
                                                  L"общая папка с другой веткой ⚙"};
inline constexpr TextPair kCaptionNotGameFolder = {L"needs an installed game ⚙",
                                                   L"нужна установленная игра ⚙"};
inline constexpr TextPair kCaptionWorkTree = {L"worktree: updating disabled",
                                              L"рабочая папка: обновление выключено"};
inline constexpr TextPair kCaptionNotPublished = {L"updates soon", L"обновления скоро"};
inline constexpr TextPair kCaptionServerUnavailable = {L"no server connection", L"нет связи с сервером"};

}  // namespace branch_texts
