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

// The update check.
inline constexpr TextPair kPreparing = {L"Preparing...", L"Подготовка..."};
inline constexpr TextPair kCheckFailedInternal = {L"Update check failed (internal error).",
                                                  L"Не удалось проверить обновления (внутренняя ошибка)."};

// The folder choice.
inline constexpr TextPair kCheckRunningCaption = {L"Update check in progress", L"Проверка еще выполняется"};
inline constexpr TextPair kCheckRunningChoiceText = {
    L"Wait for the current update check to finish, then choose the folder again.",
    L"Дождитесь окончания текущей проверки обновлений и повторите выбор папки."};
// The branch's display name follows directly.
inline constexpr TextPair kChooseFolderTitle = {L"Choose the game folder (it contains Tharnvl2.exe): ",
                                                L"Укажите папку игры (в ней лежит Tharnvl2.exe): "};
inline constexpr TextPair kCheckFolderCaption = {L"Check the folder", L"Проверьте папку"};
inline constexpr TextPair kOtherBranchFolderText = {
    L"This folder is already used by the other branch.\n\nThe branches carry different files — sharing one "
    L"folder breaks both installs. Pick a separate folder.",
    L"Эта папка уже указана для другой ветки.\n\nУ веток разные файлы — одна общая папка сломает обе "
    L"установки. Выберите отдельную папку."};
inline constexpr TextPair kWorkTreeCaption = {L"Working tree protected", L"Рабочая папка защищена"};
inline constexpr TextPair kWorkTreeText = {
    L"This is a git/hg/svn working tree. Updating replaces manifest files and can destroy uncommitted "
    L"changes.\n\nChoose a separate game copy without repository metadata.",
    L"Это рабочая папка git/hg/svn. Обновление заменяет файлы манифеста и может уничтожить незакоммиченные "
    L"правки.\n\nВыберите отдельную копию игры без репозитория."};
// launcher.ini keeps a folder as written, and its reader cuts a value at '#' or ';' and drops blanks
// at its ends: such a folder would come back as another one after the next start.
inline constexpr TextPair kUnstorableFolderText = {
    L"The path of this folder cannot be kept in launcher.ini unchanged: it contains '#' or ';', blanks at "
    L"its start or end, or characters the file cannot hold. After the next start the branch would point "
    L"at another folder.\n\nRename the folder or choose another one.",
    L"Путь к этой папке нельзя сохранить в launcher.ini без изменений: в нем есть знак '#' или ';', "
    L"пробелы в начале или в конце либо символы, которые файл не может хранить. После следующего запуска "
    L"ветка указывала бы на другую папку.\n\nПереименуйте папку или выберите другую."};
inline constexpr TextPair kUnusableFolderText = {
    L"The launcher cannot open this folder by its path: the path may be too long for this system, or "
    L"the folder is not on a disk.\n\nChoose another folder, one with a shorter path.",
    L"Лаунчер не может открыть эту папку по ее пути: путь может быть слишком длинным для этой системы, "
    L"или папка находится не на диске.\n\nВыберите другую папку, с более коротким путем."};
inline constexpr TextPair kNoGameExeQuestion = {
    L"The selected folder has no Tharnvl2.exe.\n\nUse this folder anyway?",
    L"В выбранной папке нет Tharnvl2.exe.\n\nВсе равно использовать эту папку?"};
inline constexpr TextPair kSettingsNotSavedCaption = {L"Settings not saved", L"Настройки не сохранены"};
inline constexpr TextPair kFolderNotSavedText = {
    L"Could not save launcher.ini next to the launcher. The folder was not changed.",
    L"Не удалось сохранить launcher.ini рядом с лаунчером. Папка не изменена."};

// The game launch; the caption of its boxes is the branch's display name.
inline constexpr TextPair kLaunchFolderNotSetText = {
    L"The folder of this branch is not set.\n\nOpen the gear menu and choose the folder with the installed "
    L"game.",
    L"Папка этой ветки не указана.\n\nОткройте меню шестеренки и укажите папку с установленной игрой."};
inline constexpr TextPair kLaunchFolderLabel = {L"\n\nFolder: ", L"\n\nПапка: "};
// Then the folder label and the folder.
inline constexpr TextPair kLaunchMss23MissingHead = {
    L"Mss23.dll is missing — the game cannot start without it.",
    L"В папке нет Mss23.dll — без него игра не запустится."};
inline constexpr TextPair kLaunchMss23MissingTail = {
    L"\n\nIt is the game's own sound library and updates do not carry it.\nReinstall the game (or the base "
    L"mod) into this folder.",
    L"\n\nЭто звуковая библиотека самой игры, обновления ее не содержат.\nПереустановите игру (или базовый "
    L"мод) в эту папку."};
// Then the missing items, the folder label and the folder.
inline constexpr TextPair kLaunchMissingFilesHead = {L"The branch folder is missing base game files:\n",
                                                     L"В папке ветки не хватает файлов базовой игры:\n"};
inline constexpr TextPair kLaunchMissingFilesTail = {
    L"\n\nUpdates carry mod files only — the branch installs ON TOP of an existing Tharnveil II (Emberhall "
    L"v3.01).\nUse the gear menu to choose the folder with the installed game, or reinstall the game.",
    L"\n\nОбновления содержат только файлы мода — ветка ставится ПОВЕРХ установленной Tharnveil II "
    L"(Emberhall v3.01).\nУкажите через меню шестеренки папку, где стоит сама игра, или переустановите "
    L"игру."};
// A play click that comes while a check runs: the files may be half replaced.
inline constexpr TextPair kLaunchDuringCheckText = {
    L"An update check is running: the game files may be changing right now.\n\nWait for it to finish, then "
    L"press the play button again.",
    L"Идет проверка обновлений: файлы игры могут меняться прямо сейчас.\n\nДождитесь ее окончания и снова "
    L"нажмите кнопку запуска."};

}  // namespace branch_texts
