#include "crypto/sha256_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/test_env_win.h"

namespace {

// SHA-256 of zero bytes and of "abc" (FIPS 180-2 example).
const char kEmptySha256[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char kAbcSha256[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(Sha256File, HashesSmallFilesToLowerCaseHex) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L"empty.bin", ""));
    ASSERT_TRUE(writeFileBytes(dir / L"abc.txt", "abc"));
    EXPECT_EQ(sha256FileHex(dir / L"empty.bin"), kEmptySha256);
    EXPECT_EQ(sha256FileHex(dir / L"abc.txt"), kAbcSha256);
}

TEST(Sha256File, FileOfManyBlocksMatchesTheLinuxTool) {
    ScratchDir dir;
    // Three full 64 KiB blocks and a partial one, with every byte value.
    std::string bytes;
    for (size_t i = 0; i < 3 * 65536 + 1000; ++i) bytes += static_cast<char>((i * 7 + i / 251) & 0xFF);
    ASSERT_TRUE(writeFileBytes(dir / L"data.bin", bytes));
    ASSERT_EQ(
        runUnixShell("cd " + shellQuote(dir.unixPath()) + " && sha256sum data.bin | cut -c1-64 > sum.txt"),
        0);
    const auto expected = readFileBytes(dir / L"sum.txt");
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(sha256FileHex(dir / L"data.bin") + "\n", *expected);
}

TEST(Sha256File, MissingFileOrFolderGivesTheEmptyText) {
    ScratchDir dir;
    EXPECT_EQ(sha256FileHex(dir / L"missing.bin"), "");
    EXPECT_EQ(sha256FileHex(dir / L"no\\such\\folder\\file.bin"), "");
    EXPECT_EQ(sha256FileHex(dir.path()), "");
}

}  // namespace
