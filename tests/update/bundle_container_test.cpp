#include "update/bundle_container.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// The container bytes in a real file (the reader works on stdio streams), removed afterwards.
class ContainerFile {
public:
    explicit ContainerFile(const std::string& bytes) {
        static int counter = 0;
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        name = std::string("bundle_container_") + test->name() + "_" + std::to_string(++counter) + ".tmp";
        file = std::fopen(name.c_str(), "w+b");
        if (file) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::rewind(file);
        }
    }
    ~ContainerFile() {
        if (file) std::fclose(file);
        std::remove(name.c_str());
    }
    ContainerFile(const ContainerFile&) = delete;
    ContainerFile& operator=(const ContainerFile&) = delete;
    std::FILE* get() const { return file; }

private:
    std::string name;
    std::FILE* file = nullptr;
};

TEST(BundleLength, AcceptsPlainDecimalDigitsWithinThirtyTwoBits) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"17", 17},
        {"0000000000000000000042", 42},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+5", std::nullopt},
        {"-5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"5\r", std::nullopt},
        {"5\t6", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseBundleLength(c.text), c.value);
    }
}

TEST(BundleContainer, RecordsAreReadInOrderAndSkippedContentIsPassedOver) {
    const std::string bytes = std::string("Imgs/a.dds\t3\nabc") + "Scripts/b.lua\t0\n" + "\t2\nxy" +
                              "Imgs/c.dds\t5\nhello" + "\n" + "Imgs/after_end\t1\nz";
    ContainerFile container(bytes);
    ASSERT_TRUE(container.get());
    std::vector<char> buffer(2);  // smaller than a record: the copy loops
    BundleRecordHeader header;

    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    EXPECT_EQ(header.name, "Imgs/a.dds");
    EXPECT_EQ(header.length, 3);
    ASSERT_TRUE(skipBundleContent(container.get(), header.length));

    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    EXPECT_EQ(header.name, "Scripts/b.lua");
    EXPECT_EQ(header.length, 0);

    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    EXPECT_EQ(header.name, "");  // an empty name is a record like any other, wanted by no file
    EXPECT_EQ(header.length, 2);
    ASSERT_TRUE(skipBundleContent(container.get(), header.length));

    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    EXPECT_EQ(header.name, "Imgs/c.dds");
    std::string copied;
    const BundleSink sink = [&copied](const char* data, size_t size) {
        copied.append(data, size);
        return true;
    };
    const BundleCopyResult copy =
        copyBundleContent(container.get(), header.length, &sink, buffer.data(), buffer.size());
    EXPECT_TRUE(copy.complete);
    EXPECT_TRUE(copy.written);
    EXPECT_EQ(copied, "hello");

    // The empty line ends the container; the record after it is never seen.
    EXPECT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::End);
}

TEST(BundleContainer, EndOfFileWhereAHeaderWouldBeginIsANormalEnd) {
    ContainerFile container("Imgs/a.dds\t1\nx");
    BundleRecordHeader header;
    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    ASSERT_TRUE(skipBundleContent(container.get(), header.length));
    EXPECT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::End);
}

TEST(BundleContainer, HeadersThatCannotBeTrustedAreMalformed) {
    for (const char* bytes :
         {"Imgs/a.dds 3\nabc", "Imgs/a.dds\t3\r\nabc", "Imgs/a.dds\t\nabc", "Imgs/a.dds\t3\t4\nabc",
          "Imgs/a.dds\t-3\nabc", "Imgs/a.dds", "Imgs/a.dds\t3x\n"}) {
        SCOPED_TRACE(bytes);
        ContainerFile container(bytes);
        BundleRecordHeader header;
        EXPECT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Malformed);
    }
    // A header at the very end without its LF still names a record; its content is missing.
    ContainerFile cut("Imgs/a.dds\t3");
    BundleRecordHeader header;
    ASSERT_EQ(readBundleHeader(cut.get(), header), BundleHeaderRead::Record);
    std::vector<char> buffer(64);
    EXPECT_FALSE(copyBundleContent(cut.get(), header.length, nullptr, buffer.data(), buffer.size()).complete);
}

TEST(BundleContainer, ContentCutShortIsNotComplete) {
    ContainerFile container("Imgs/a.dds\t10\nonly six");
    BundleRecordHeader header;
    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    std::vector<char> buffer(4);
    const BundleSink sink = [](const char*, size_t) { return true; };
    const BundleCopyResult copy =
        copyBundleContent(container.get(), header.length, &sink, buffer.data(), buffer.size());
    EXPECT_FALSE(copy.complete);
}

TEST(BundleContainer, ContentThatCannotBeWrittenIsStillReadToItsEnd) {
    ContainerFile container(
        "Imgs/a.dds\t5\nhello"
        "Imgs/b.dds\t1\nb");
    ASSERT_TRUE(container.get());
    BundleRecordHeader header;
    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    std::vector<char> buffer(2);
    // The first block goes out, the second meets a full disk; no block after that is offered.
    int offered = 0;
    const BundleSink sink = [&offered](const char*, size_t) { return ++offered == 1; };
    const BundleCopyResult copy =
        copyBundleContent(container.get(), header.length, &sink, buffer.data(), buffer.size());
    EXPECT_TRUE(copy.complete);
    EXPECT_FALSE(copy.written);
    EXPECT_EQ(offered, 2);
    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    EXPECT_EQ(header.name, "Imgs/b.dds");
}

TEST(BundleContainer, OverlongNameIsKeptShortAndTheRecordStaysReadable) {
    const std::string longName(kMaxBundleNameBytes + 1000, 'n');
    ContainerFile container(longName + "\t2\nxy" + "Imgs/b.dds\t1\nb");
    BundleRecordHeader header;
    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    EXPECT_TRUE(header.nameTooLong);
    EXPECT_EQ(header.name.size(), kMaxBundleNameBytes);
    EXPECT_EQ(header.length, 2);
    ASSERT_TRUE(skipBundleContent(container.get(), header.length));
    ASSERT_EQ(readBundleHeader(container.get(), header), BundleHeaderRead::Record);
    EXPECT_FALSE(header.nameTooLong);
    EXPECT_EQ(header.name, "Imgs/b.dds");
}

}  // namespace
