#include "platform/host_file_io.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class HostFileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "host-file-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string pathOf(const char* name) const { return (folder / name).string(); }

    fs::path folder;
};

TEST_F(HostFileIoTest, ReadSizeSeekAndShortReadAtTheEnd) {
    std::ofstream(pathOf("data"), std::ios::binary) << std::string("0123456789", 10);
    const platform::FileHandle file = platform::openFileForReading(pathOf("data").c_str());
    ASSERT_NE(file, platform::InvalidFile);
    std::uint64_t size = 0;
    ASSERT_TRUE(platform::fileSize(file, size));
    EXPECT_EQ(size, 10u);

    char buffer[8] = {};
    EXPECT_EQ(platform::readFile(file, buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    ASSERT_TRUE(platform::seekFile(file, 7));
    EXPECT_EQ(platform::readFile(file, buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(platform::readFile(file, buffer, sizeof buffer), 0);
    ASSERT_TRUE(platform::seekFile(file, 0));
    EXPECT_EQ(platform::readFile(file, buffer, 1), 1);
    EXPECT_EQ(buffer[0], '0');
    // Writing to a file opened for reading fails and says so.
    EXPECT_EQ(platform::writeFile(file, "x", 1), -1);
    platform::closeFile(file);
}

TEST_F(HostFileIoTest, CreateAlwaysEmptiesAnExistingFile) {
    std::ofstream(pathOf("out"), std::ios::binary) << "old and longer contents";
    platform::FileHandle file = platform::createFileForWriting(pathOf("out").c_str());
    ASSERT_NE(file, platform::InvalidFile);
    const std::string data("new\0data", 8);
    EXPECT_EQ(platform::writeFile(file, data.data(), data.size()), 8);
    std::uint64_t size = 0;
    ASSERT_TRUE(platform::fileSize(file, size));
    EXPECT_EQ(size, 8u);
    platform::closeFile(file);

    file = platform::openFileForReading(pathOf("out").c_str());
    ASSERT_NE(file, platform::InvalidFile);
    char buffer[32] = {};
    EXPECT_EQ(platform::readFile(file, buffer, sizeof buffer), 8);
    EXPECT_EQ(std::string(buffer, 8), data);
    platform::closeFile(file);
}

TEST_F(HostFileIoTest, MissingFilesAndFoldersDoNotOpen) {
    EXPECT_EQ(platform::openFileForReading(pathOf("missing").c_str()), platform::InvalidFile);
    EXPECT_EQ(platform::openFileForReading(folder.c_str()), platform::InvalidFile);
    EXPECT_EQ(platform::createFileForWriting(pathOf("no/such/folder").c_str()),
              platform::InvalidFile);
    EXPECT_EQ(platform::createFileForWriting(folder.c_str()), platform::InvalidFile);
}

}  // namespace
