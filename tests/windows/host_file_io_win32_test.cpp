#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host_file_io.h"
#include "platform/wide_path_win32.h"
#include "tests/windows/win32_temp_folder.h"

namespace {

using namespace platform;

class HostFileIo : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.ready()); }

    std::string writeFileWith(const std::string& name, const std::string& bytes) {
        const std::string path = folder.file(name);
        const FileHandle file = createFileForWriting(path.c_str());
        EXPECT_NE(InvalidFile, file);
        EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), writeFile(file, bytes.data(), bytes.size()));
        closeFile(file);
        return path;
    }

    TempFolder folder;
};

TEST_F(HostFileIo, WrittenBytesReadBackWithSizeAndSeek) {
    std::string bytes(5000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    const std::string path = writeFileWith("data.bin", bytes);

    const FileHandle file = openFileForReading(path.c_str());
    ASSERT_NE(InvalidFile, file);
    std::uint64_t size = 0;
    ASSERT_TRUE(fileSize(file, size));
    EXPECT_EQ(5000u, size);

    std::vector<char> got(6000);
    EXPECT_EQ(5000, readFile(file, got.data(), got.size()));
    EXPECT_EQ(bytes, std::string(got.data(), 5000));
    EXPECT_EQ(0, readFile(file, got.data(), got.size()));  // end of file

    ASSERT_TRUE(seekFile(file, 4990));
    EXPECT_EQ(10, readFile(file, got.data(), got.size()));
    EXPECT_EQ(bytes.substr(4990), std::string(got.data(), 10));
    ASSERT_TRUE(seekFile(file, 0));
    EXPECT_EQ(3, readFile(file, got.data(), 3));
    EXPECT_EQ(bytes.substr(0, 3), std::string(got.data(), 3));
    closeFile(file);
}

TEST_F(HostFileIo, CreatingEmptiesAnExistingFile) {
    const std::string path = writeFileWith("data.bin", "a longer first version");
    writeFileWith("data.bin", "short");
    const FileHandle file = openFileForReading(path.c_str());
    std::uint64_t size = 0;
    ASSERT_TRUE(fileSize(file, size));
    EXPECT_EQ(5u, size);
    closeFile(file);
}

TEST_F(HostFileIo, MissingFilesAndFoldersDoNotOpen) {
    EXPECT_EQ(InvalidFile, openFileForReading(folder.file("missing.bin").c_str()));
    EXPECT_EQ(InvalidFile, createFileForWriting(folder.file("no-such-folder\\x.bin").c_str()));
    const std::string subfolder = folder.file("sub");
    ASSERT_TRUE(CreateDirectoryA(subfolder.c_str(), nullptr));
    EXPECT_EQ(InvalidFile, openFileForReading(subfolder.c_str()));
    RemoveDirectoryA(subfolder.c_str());
}

// A file being read may be read by others, not written; a file being written
// is nobody else's meanwhile.
TEST_F(HostFileIo, ShareModes) {
    const std::string path = writeFileWith("shared.bin", "bytes");
    const FileHandle reading = openFileForReading(path.c_str());
    ASSERT_NE(InvalidFile, reading);
    const FileHandle secondReader = openFileForReading(path.c_str());
    EXPECT_NE(InvalidFile, secondReader);
    closeFile(secondReader);
    EXPECT_EQ(InvalidFile, createFileForWriting(path.c_str()));
    closeFile(reading);

    const FileHandle writing = createFileForWriting(path.c_str());
    ASSERT_NE(InvalidFile, writing);
    EXPECT_EQ(InvalidFile, openFileForReading(path.c_str()));
    closeFile(writing);
    const FileHandle afterwards = openFileForReading(path.c_str());
    EXPECT_NE(InvalidFile, afterwards);
    closeFile(afterwards);
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Names are UTF-8 whatever the code pages are (the ANSI functions took them
// in the ANSI code page), and a relative one may lead to a full path longer
// than MAX_PATH (the ANSI functions refused it even under Wine).
TEST_F(HostFileIo, NamesAreUtf8AndMayBeLongerThanMaxPath) {
    writeFileWith("d\xC3\xA4t\xC3\xA4.bin", "umlauts");
    const std::wstring umlauts = wide(folder.file("")) + L"d\u00e4t\u00e4.bin";
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(umlauts.c_str()));
    DeleteFileW(umlauts.c_str());

    const std::string part(100, 'p');
    const std::wstring base = L"\\\\?\\" + wide(folder.file(""));
    std::wstring made = base;
    std::string relative;
    for (int depth = 0; depth < 3; ++depth) {
        made += wide(part) + L"\\";
        relative += part + "\\";
        ASSERT_TRUE(CreateDirectoryW(made.c_str(), nullptr));
    }
    char saved[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.file("").c_str()));
    relative += "long.bin";
    // Wine takes such a name as it stands; Windows only in the long form.
    EXPECT_EQ(L"\\\\?\\" + wide(folder.file("") + relative), widePath(relative.c_str()));
    EXPECT_EQ(L"short.bin", widePath("short.bin"));
    const FileHandle written = createFileForWriting(relative.c_str());
    EXPECT_NE(InvalidFile, written);
    EXPECT_EQ(4, writeFile(written, "long", 4));
    closeFile(written);
    const FileHandle read = openFileForReading(relative.c_str());
    char back[4] = {};
    EXPECT_EQ(4, readFile(read, back, sizeof back));
    closeFile(read);
    SetCurrentDirectoryA(saved);
    EXPECT_EQ("long", std::string(back, 4));
    DeleteFileW((made + L"long.bin").c_str());
    for (int depth = 3; depth > 0; --depth) {
        RemoveDirectoryW(made.c_str());
        made.resize(made.size() - part.size() - 1);
    }
}

TEST_F(HostFileIo, ClosingTheInvalidHandleIsHarmless) {
    closeFile(InvalidFile);
    std::uint64_t size = 7;
    EXPECT_FALSE(fileSize(InvalidFile, size));
    char byte = 0;
    EXPECT_EQ(-1, readFile(InvalidFile, &byte, 1));
    EXPECT_EQ(-1, writeFile(InvalidFile, &byte, 1));
}

}  // namespace
