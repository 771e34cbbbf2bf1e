#include <windows.h>

#include <gtest/gtest.h>

#include "net/http_client_win.h"
#include "support/test_env_win.h"

namespace {

TEST(CreateParentFolders, CreatesEveryMissingFolderUpToTheParent) {
    ScratchDir dir;
    const struct {
        const wchar_t* path;
        const wchar_t* deepestFolder;
        const wchar_t* notCreated;
    } cases[] = {
        {L"a\\b\\c\\d\\file.txt", L"a\\b\\c\\d", L"a\\b\\c\\d\\file.txt"},
        {L"m/n\\o/file.txt", L"m\\n\\o", L"m\\n\\o\\file.txt"},
        {L"p\\q\\", L"p\\q", nullptr},
        {L"a\\b\\c\\d\\e\\other.txt", L"a\\b\\c\\d\\e", L"a\\b\\c\\d\\e\\other.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path);
        // The scratch folder's path starts at a drive ("Z:"), whose root cannot be created.
        EXPECT_TRUE(createParentFolders(dir / c.path));
        EXPECT_TRUE(folderExists(dir / c.deepestFolder));
        if (c.notCreated) {
            EXPECT_FALSE(folderExists(dir / c.notCreated));
        }
        EXPECT_TRUE(createParentFolders(dir / c.path)) << "folders that exist are fine";
    }
}

TEST(CreateParentFolders, PathWithoutAFolderNeedsNothing) {
    EXPECT_TRUE(createParentFolders(L"file.txt"));
    EXPECT_TRUE(createParentFolders(L"\\file.txt"));
}

TEST(CreateParentFolders, FailsWhereAFolderCannotBeMade) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"plainfile", "a file where a folder should be"));
    ASSERT_TRUE(CreateDirectoryW((dir / L"locked").c_str(), nullptr));
    ImmutableFolder locked(dir / L"locked");
    if (!locked.active()) GTEST_SKIP() << locked.whyNot();
    EXPECT_FALSE(createParentFolders(dir / L"plainfile\\sub\\file.txt"));
    EXPECT_FALSE(createParentFolders(dir / L"locked\\new\\deeper\\file.txt"));
    EXPECT_FALSE(folderExists(dir / L"locked\\new"));
}

}  // namespace
