#include "loader/detect_format.h"

#include <gtest/gtest.h>

#include "tests/loader/loader_files.h"

namespace {

using loadertest::Bytes;
using loadertest::ScratchDir;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(DetectFormat, TellsTheFormatsApartByTheirFirstBytes) {
    ScratchDir dir;
    EXPECT_EQ(ExeFormat, detectFormat(dir.write("a.exe", text("QORA EXE and whatever follows")).c_str()));
    EXPECT_EQ(EcoffFormat, detectFormat(dir.write("a.ecoff", Bytes{0x62, 0x01, 0, 0, 9, 9, 9, 9, 9}).c_str()));
    EXPECT_EQ(UnknownFormat, detectFormat(dir.write("be.ecoff", Bytes{0x01, 0x62, 0, 0, 0, 0, 0, 0}).c_str()));
    EXPECT_EQ(UnknownFormat, detectFormat(dir.write("lower.exe", text("qora exe........")).c_str()));
    EXPECT_EQ(UnknownFormat, detectFormat(dir.write("elf", Bytes{0x7f, 0x45, 0x4c, 0x46, 1, 1, 1, 0}).c_str()));
    EXPECT_EQ(MissingFile, detectFormat(dir.file("no-such-file").c_str()));
}

TEST(DetectFormat, JudgesShortFilesOnlyByTheBytesTheyHave) {
    ScratchDir dir;
    EXPECT_EQ(EcoffFormat, detectFormat(dir.write("two", Bytes{0x62, 0x01}).c_str()));
    EXPECT_EQ(UnknownFormat, detectFormat(dir.write("one", Bytes{0x62}).c_str()));
    EXPECT_EQ(UnknownFormat, detectFormat(dir.write("empty", Bytes{}).c_str()));
    // Seven of the eight magic characters are not the magic.
    EXPECT_EQ(UnknownFormat, detectFormat(dir.write("seven", text("QORA EX")).c_str()));
    EXPECT_EQ(ExeFormat, detectFormat(dir.write("eight", text("QORA EXE")).c_str()));
}

TEST(DetectFormat, LeavesNoFileOpen) {
    ScratchDir dir;
    const std::string path = dir.write("a.exe", text("QORA EXE"));
    const auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = openFiles();
    for (int i = 0; i < 20; ++i) {
        detectFormat(path.c_str());
        detectFormat(dir.file("missing").c_str());
    }
    EXPECT_EQ(before, openFiles());
}

}  // namespace
