// libFuzzer target: the news entries of any text, in both languages, and the link rule.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/text_convert.h"
#include "content/news.h"

namespace {

bool startsWithWebScheme(std::wstring_view link) {
    WString head(link.substr(0, 8));
    for (wchar_t& c : head) c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    return head.rfind(L"https://", 0) == 0 || head.rfind(L"http://", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const WString text = utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto english = parseNewsEntries(text, Language::English);
    const auto russian = parseNewsEntries(text, Language::Russian);
    // English falls back to the Russian fields, never the reverse: it drops no item that Russian keeps.
    if (english.size() > kMaxNewsEntries || russian.size() > english.size()) __builtin_trap();
    for (const auto* entries : {&english, &russian}) {
        for (const NewsEntry& entry : *entries) {
            if (entry.title.empty() || entry.text.empty() || entry.date.empty() || entry.link.empty()) {
                __builtin_trap();
            }
            if (entry.title.find(L'|') != WString::npos) __builtin_trap();
            for (const WString* field : {&entry.text, &entry.date, &entry.link}) {
                if (field->find(L'\n') != WString::npos) __builtin_trap();
            }
            if (isOpenableWebLink(entry.link)) {
                if (!startsWithWebScheme(entry.link) || entry.link.size() > kMaxOpenableLinkLength)
                    __builtin_trap();
                for (wchar_t c : entry.link) {
                    if (c <= 0x20 || c == L'"' || c == 0x7F) __builtin_trap();
                }
            }
        }
    }
    (void)isOpenableWebLink(text);
    return 0;
}
