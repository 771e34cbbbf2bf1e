#include "ui/status_rows.h"

#include <gtest/gtest.h>
#include <iterator>
#include <vector>

namespace {

// One unit per character; rows written as the test expects them: ">" for an indented row, "+" for
// a further row of a broken line, "^" for the first row of a later entry.
std::vector<WString> rowsOf(const WString& text, float width) {
    std::vector<WString> shown;
    for (const StatusRow& row :
         breakStatusRows(text, width, 2, [](const WString& t) { return static_cast<float>(t.size()); })) {
        shown.push_back(WString(row.startsEntry ? L"^" : L"") + (row.indented ? L">" : L"") +
                        (row.continuesLine ? L"+" : L"") + row.text);
    }
    return shown;
}

TEST(StatusRows, BreakBetweenWordsAndIndentWhatCarriesOnAnEntry) {
    const struct {
        WString text;
        float width;
        std::vector<WString> rows;
    } cases[] = {
        {L"LURRA 1.44 — ready\nKORDAN TVX — folder not set",
         40,
         {L"LURRA 1.44 — ready", L"^KORDAN TVX — folder not set"}},
        // A run's message over two lines: the second belongs to the entry above it.
        {L"LURRA 1.44 — not updated:\nfiles in use.\nKORDAN TVX — ready",
         40,
         {L"LURRA 1.44 — not updated:", L">files in use.", L"^KORDAN TVX — ready"}},
        // Broken between words; the further rows have the indent less room.
        {L"LURRA 1.44 — some files are in use by another program",
         20,
         {L"LURRA 1.44 — some", L">+files are in use", L">+by another program"}},
        {L"LURRA 1.44 — abcdefghijklmnopqrstuvwxyz end",
         12,
         {L"LURRA 1.44 —", L">+abcdefghijklmnopqrstuvwxyz", L">+end"}},
        // The first line is never indented, whatever it says; an empty line carries on an entry.
        {L"Initializing...", 5, {L"Initializing..."}},
        {L"Checking for updates...\n\nKORDAN TVX — x",
         30,
         {L"Checking for updates...", L">", L"^KORDAN TVX — x"}},
        {L"", 10, {L""}},
        // A branch's name in the middle of a line begins no entry.
        {L"LURRA 1.44 — not updated:\nfiles of KORDAN TVX — in use",
         60,
         {L"LURRA 1.44 — not updated:", L">files of KORDAN TVX — in use"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        EXPECT_EQ(rowsOf(cases[i].text, cases[i].width), cases[i].rows);
    }
}

}  // namespace
