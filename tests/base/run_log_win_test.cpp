// The run log as the launcher opens it at start-up: the size bound and whole lines.
#include <windows.h>

#include <gtest/gtest.h>
#include <regex>
#include <string>

#include "base/run_log.h"
#include "support/test_env_win.h"

namespace {

TEST(RunLog, BecomesTheOneOlderLogOncePastOneMebibyteAtStartUp) {
    struct Case {
        const char* name;
        size_t logBytes;
        bool olderLogBefore;
        bool moved;
    };
    const Case cases[] = {
        {"exactly 1 MiB stays", kRunLogRotateBytes, false, false},
        {"one byte more becomes launcher.log.1", kRunLogRotateBytes + 1, false, true},
        {"a second rotation replaces the older launcher.log.1", kRunLogRotateBytes + 1, true, true},
    };
    ScratchDir dir;
    int caseNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WString folder = dir / std::to_wstring(++caseNumber);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        const std::string before(c.logBytes, 'x');
        ASSERT_TRUE(writeFileBytes(folder + L"\\launcher.log", before));
        if (c.olderLogBefore) {
            ASSERT_TRUE(writeFileBytes(folder + L"\\launcher.log.1", "oldest"));
        }

        ASSERT_TRUE(openRunLog(folder));
        logLine("first line\nsecond part");
        closeRunLog();

        const std::string log = readFileBytes(folder + L"\\launcher.log").value_or("");
        const std::string line = c.moved ? log : log.substr(std::min(log.size(), before.size()));
        EXPECT_TRUE(std::regex_match(
            line,
            std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[\d+\] first line\\nsecond part\r\n)")))
            << line.substr(0, 200);
        EXPECT_EQ(log.compare(0, before.size(), before) == 0, !c.moved);
        const std::optional<std::string> older = readFileBytes(folder + L"\\launcher.log.1");
        EXPECT_EQ(older.has_value(), c.moved);
        EXPECT_TRUE(!older || *older == before) << "launcher.log.1 is not the log that was moved aside";
    }
}

}  // namespace
