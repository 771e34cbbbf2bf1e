#include "content/news.h"

#include <algorithm>

namespace {

// The lines of the text one by one: up to each LF, without one CR before it.
class LineReader {
public:
    explicit LineReader(std::wstring_view text) : text(text) {}

    // Every line, also an empty one after a final LF (both formats skip empty lines).
    [[nodiscard]] bool next(std::wstring_view& line) {
        if (position > text.size()) return false;
        const size_t end = std::min(text.find(L'\n', position), text.size());
        line = text.substr(position, end - position);
        if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
        position = end + 1;
        return true;
    }

private:
    std::wstring_view text;
    size_t position = 0;
};

bool isComment(std::wstring_view line) { return !line.empty() && line.front() == L'#'; }

constexpr std::wstring_view kSectionLine = L"[news]";

// The fields of one sectioned item, as the file gives them.
struct NewsItem {
    WString titleRu, textRu, titleEn, textEn, date, urlRu, urlEn;

    WString* field(std::wstring_view key) {
        if (key == L"title_ru") return &titleRu;
        if (key == L"text_ru") return &textRu;
        if (key == L"title_en") return &titleEn;
        if (key == L"text_en") return &textEn;
        if (key == L"date") return &date;
        if (key == L"url_ru") return &urlRu;
        if (key == L"url_en") return &urlEn;
        return nullptr;
    }
};

const WString& englishOr(const WString& english, const WString& russian) {
    return english.empty() ? russian : english;
}

// Adds a card unless one of its fields is empty.
void addEntry(std::vector<NewsEntry>& entries, WString title, WString text, WString date, WString link) {
    if (title.empty() || text.empty() || date.empty() || link.empty()) return;
    std::replace(title.begin(), title.end(), L'|', L'\n');
    entries.push_back({std::move(title), std::move(text), std::move(date), std::move(link)});
}

void finishItem(std::vector<NewsEntry>& entries, const NewsItem& item, Language language) {
    if (entries.size() >= kMaxNewsEntries) return;
    if (language == Language::English) {
        addEntry(entries, englishOr(item.titleEn, item.titleRu), englishOr(item.textEn, item.textRu),
                 item.date, englishOr(item.urlEn, item.urlRu));
    } else {
        addEntry(entries, item.titleRu, item.textRu, item.date, item.urlRu);
    }
}

std::vector<NewsEntry> parseSectioned(std::wstring_view text, Language language) {
    std::vector<NewsEntry> entries;
    NewsItem item;
    bool itemOpen = false;
    LineReader lines(text);
    std::wstring_view line;
    while (entries.size() < kMaxNewsEntries && lines.next(line)) {
        if (line.empty() || isComment(line)) continue;
        if (line == kSectionLine) {
            if (itemOpen) finishItem(entries, item, language);
            item = NewsItem{};
            itemOpen = true;
            continue;
        }
        const size_t equals = line.find(L'=');
        if (!itemOpen || equals == std::wstring_view::npos) continue;
        if (WString* field = item.field(line.substr(0, equals))) field->assign(line.substr(equals + 1));
    }
    if (itemOpen) finishItem(entries, item, language);
    return entries;
}

std::vector<NewsEntry> parseFourLines(std::wstring_view text) {
    std::vector<NewsEntry> entries;
    WString group[4];
    size_t collected = 0;
    LineReader lines(text);
    std::wstring_view line;
    while (entries.size() < kMaxNewsEntries && lines.next(line)) {
        if (line.empty()) continue;
        group[collected++].assign(line);
        if (collected == 4) {
            addEntry(entries, std::move(group[0]), std::move(group[1]), std::move(group[2]),
                     std::move(group[3]));
            collected = 0;
        }
    }
    return entries;
}

bool startsWithIgnoringCase(std::wstring_view text, std::wstring_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) return false;
    for (size_t i = 0; i < lowerPrefix.size(); ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

// Characters that have no place in an address handed to the shell: controls, blanks of any
// kind, invisible direction marks, and the double quote that would end a quoted argument.
bool isRefusedInLink(wchar_t c) {
    const auto u = static_cast<uint32_t>(c);
    return u <= 0x20 || (u >= 0x7F && u <= 0xA0) || u == L'"' || u == 0x1680 ||
           (u >= 0x2000 && u <= 0x200F) || (u >= 0x2028 && u <= 0x202F) || (u >= 0x205F && u <= 0x206F) ||
           u == 0x3000 || u == 0xFEFF;
}

}  // namespace

std::vector<NewsEntry> parseNewsEntries(std::wstring_view newsText, Language language) {
    LineReader lines(newsText);
    std::wstring_view line;
    while (lines.next(line)) {
        if (line.empty() || isComment(line)) continue;
        if (line == kSectionLine) return parseSectioned(newsText, language);
        break;
    }
    return parseFourLines(newsText);
}

bool isOpenableWebLink(std::wstring_view link) {
    if (link.size() > kMaxOpenableLinkLength) return false;
    size_t hostStart = 0;
    if (startsWithIgnoringCase(link, L"https://")) {
        hostStart = 8;
    } else if (startsWithIgnoringCase(link, L"http://")) {
        hostStart = 7;
    } else {
        return false;
    }
    if (hostStart == link.size() || link[hostStart] == L'/' || link[hostStart] == L'?' ||
        link[hostStart] == L'#' || link[hostStart] == L'\\') {
        return false;
    }
    return std::none_of(link.begin(), link.end(), isRefusedInLink);
}
