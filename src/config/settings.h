#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/wstring.h"
#include "config/branch_table.h"

// The interface language. Russian is the default; launcher.ini says "en" for English.
enum class Language : int32_t { Russian = 0, English = 1 };

// The other language: the language button's switch.
[[nodiscard]] constexpr Language otherLanguage(Language language) {
    return language == Language::English ? Language::Russian : Language::English;
}

// The user's settings, kept in launcher.ini next to the launcher executable.
struct Settings {
    // One game folder per branch, in branch table order; empty when not chosen. Written only by
    // the window thread.
    std::array<WString, kBranchCount> branchFolders;
    // Read by the background threads too.
    std::atomic<Language> language{Language::Russian};
};

// The process-wide settings.
[[nodiscard]] Settings& appSettings();

[[nodiscard]] inline Language currentLanguage() { return appSettings().language.load(); }
[[nodiscard]] inline bool isEnglish() { return currentLanguage() == Language::English; }

// Every user-visible text exists in both languages; the pair is chosen when the text is built.
struct TextPair {
    const wchar_t* english;
    const wchar_t* russian;
};
[[nodiscard]] inline const wchar_t* localized(const TextPair& text, Language language) {
    return language == Language::English ? text.english : text.russian;
}
[[nodiscard]] inline const wchar_t* localized(const TextPair& text) {
    return localized(text, currentLanguage());
}

// The exact six-line text of launcher.ini for these settings.
[[nodiscard]] std::string buildSettingsText(const Settings& settings);

// Takes the folders and the language from the text of a settings file. A text the INI reader
// rejects is ignored as a whole: false, and nothing but the folders (emptied) changes.
bool applySettingsText(Settings& settings, std::string_view text);
