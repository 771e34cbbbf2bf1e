#include "update/installed_version_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/file_holder_win.h"
#include "support/language_scope.h"
#include "support/test_env_win.h"
#include "update/update_engine.h"

namespace {

TEST(InstalledVersion, ReadsTheFirstLineAndPublishesTheDetectingState) {
    struct Case {
        const char* name;
        std::optional<std::string> file;
        int32_t version;
    };
    const Case cases[] = {
        {"missing file", std::nullopt, 0},
        {"empty file", std::string(), 0},
        {"digits only", std::string("144"), 144},
        {"CR LF and more lines", std::string("145\r\n200\n"), 145},
        {"blanks and trailing text", std::string("  146 installed"), 146},
        {"not a number", std::string("version=144"), 0},
        {"out of range", std::string("99999999999"), 0},
        {"byte-order mark",
         std::string("\xEF\xBB\xBF"
                     "144"),
         0},
    };
    LanguageScope english(Language::English);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        if (c.file) {
            ASSERT_TRUE(writeFileBytes(dir / L"VarnholdLauncher.ini", *c.file));
        }
        UpdateEngine engine;
        EXPECT_EQ(readInstalledVersion(engine, dir.path()), c.version);
        EXPECT_EQ(engine.state.load(), kStateDetectingVersion);
        EXPECT_EQ(copyStatusText(engine), L"Detecting installed version...");
    }
    LanguageScope russian(Language::Russian);
    ScratchDir dir;
    UpdateEngine engine;
    (void)readInstalledVersion(engine, dir.path());
    EXPECT_EQ(copyStatusText(engine), L"Определение установленной версии...");
}

TEST(InstalledVersion, WriteReplacesTheWholeFileWithTheDigitsAlone) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"VarnholdLauncher.ini", "143\r\nsomething longer than the new text\n"));
    writeInstalledVersion(dir.path(), 144);
    EXPECT_EQ(readFileBytes(dir / L"VarnholdLauncher.ini"), std::string("144"));
    EXPECT_FALSE(fileExists(dir / L"VarnholdLauncher.ini.new"));
    UpdateEngine engine;
    EXPECT_EQ(readInstalledVersion(engine, dir.path()), 144);

    ScratchDir fresh;
    writeInstalledVersion(fresh.path(), 7);
    EXPECT_EQ(readFileBytes(fresh / L"VarnholdLauncher.ini"), std::string("7"));
}

TEST(InstalledVersion, FileThatCannotBeReplacedKeepsTheOldVersion) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"VarnholdLauncher.ini", "143"));
    {
        FileHolder holder(dir / L"VarnholdLauncher.ini", L"r", L"r");
        ASSERT_TRUE(holder.holding());
        writeInstalledVersion(dir.path(), 144);
    }
    EXPECT_EQ(readFileBytes(dir / L"VarnholdLauncher.ini"), std::string("143"));
    EXPECT_FALSE(fileExists(dir / L"VarnholdLauncher.ini.new"));
}

}  // namespace
