#pragma once

#include <string_view>
#include <vector>

#include "base/wstring.h"
#include "config/settings.h"

// The news cards' texts, taken from the signed news file. Platform-free. The tick (ui/tick_win.cpp)
// parses the engine's news text whenever it or the interface language has changed and shows the
// entries on the cards; a click on a card opens its link through ui/shell_win.h only when
// isOpenableWebLink allows it.
//
// The file comes in one of two formats:
//   - sectioned: the first line that is neither empty nor a "#" comment is exactly "[news]"; each
//     "[news]" line opens an item, and "key=value" lines fill its fields (title_ru, text_ru,
//     title_en, text_en, date, url_ru, url_en; exact keys, nothing trimmed, a later line wins);
//   - four lines: otherwise every four non-empty lines are one item (title, text, date, link), and
//     a trailing group of fewer lines is dropped. "#" lines are data here.
// Lines end at LF; one CR before it is removed.

inline constexpr size_t kMaxNewsEntries = 3;

// What one card shows.
struct NewsEntry {
    WString title;  // a "|" of the file is a line feed here
    WString text;
    WString date;
    WString link;  // as written in the file; check it with isOpenableWebLink before opening it
};

// The first three complete items of the news text, in file order, in the interface language.
// English takes each field of a sectioned item from its English key and falls back to the Russian
// one field by field; Russian takes the Russian fields only. An item with an empty title, text,
// date or link is dropped and takes no card.
[[nodiscard]] std::vector<NewsEntry> parseNewsEntries(std::wstring_view newsText, Language language);

// Whether the launcher may hand this link to the shell: an absolute http:// or https:// address
// (scheme in any letter case) with a host, at most kMaxOpenableLinkLength units, and no control
// character, blank or double quote anywhere. A news file is signed, but the link of a card goes to
// the shell, which would also start programs, open local files or pass a quoted command line on;
// anything but a web page is refused.
[[nodiscard]] bool isOpenableWebLink(std::wstring_view link);

inline constexpr size_t kMaxOpenableLinkLength = 2048;
