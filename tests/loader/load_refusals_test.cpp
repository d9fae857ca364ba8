// The load command's ways out before any worker starts.
#include <gtest/gtest.h>

#include "console/console.h"
#include "loader/load_command.h"
#include "tests/loader/loader_files.h"
#include "tests/support/fakes.h"

namespace {

using loadertest::Bytes;
using loadertest::ScratchDir;

struct Refusal : ::testing::Test {
    Refusal() { console.port = &line; }
    fakes::ScriptedKeys keys;
    fakes::RecordingScreen screen;
    fakes::RecordingHost host;
    fakes::RecordingPort line;
    Console console{keys, screen, host};
    ScratchDir dir;
};

TEST_F(Refusal, MissingFile) {
    console.starsShown = 7;
    EXPECT_FALSE(load(console, dir.file("missing.exe").c_str(), &line));
    EXPECT_EQ("file not found\n", screen.text);
    EXPECT_EQ("\r", line.written);
    EXPECT_EQ(Typing, console.state);
    EXPECT_EQ(0, console.starsShown);
}

loadertest::ElfLayout elfProgram() {
    loadertest::ElfLayout layout;
    layout.segments.push_back(loadertest::segment(0x80010000, loadertest::pattern(300, 1)));
    return layout;
}

TEST_F(Refusal, UnknownFormat) {
    // A bare ELF identification, and a whole ELF that is not an executable.
    loadertest::ElfLayout object = elfProgram();
    object.type = 1;
    for (const Bytes& image : {Bytes{0x7f, 'E', 'L', 'F', 1, 1, 1, 0, 0}, loadertest::elfImage(object)}) {
        screen.text.clear();
        line.written.clear();
        console.state = AtPrompt;
        EXPECT_FALSE(load(console, dir.write("a.bin", image).c_str(), &line));
        EXPECT_EQ("unknown format\n", screen.text);
        EXPECT_EQ("\r", line.written);
        EXPECT_EQ(Typing, console.state);
    }
}

TEST_F(Refusal, HeadersThatCannotBeUsed) {
    struct Case {
        const char* name;
        Bytes image;
        const char* format;
    };
    Bytes shortExe = loadertest::exeImage({});
    shortExe.resize(100);
    loadertest::EcoffLayout object;
    object.optionalHeaderSize = 0;
    loadertest::EcoffLayout notExecutable;
    notExecutable.flags = 0;
    Bytes tableBeyondTheEnd = loadertest::elfImage(elfProgram());
    loadertest::putLe16(tableBeyondTheEnd, loadertest::ElfOffsets::programCountField, 0x1000);
    const Case cases[] = {
        {"short.exe", shortExe, "QORA-EXE format\n"},
        {"object.ecoff", loadertest::ecoffImage(object), "kembri format\n"},
        {"noexec.ecoff", loadertest::ecoffImage(notExecutable), "kembri format\n"},
        {"magic-only.ecoff", Bytes{0x62, 0x01}, "kembri format\n"},
        {"table-beyond.elf", tableBeyondTheEnd, "ELF format\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        screen.text.clear();
        line.written.clear();
        console.state = AtPrompt;
        const auto openBefore = std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                              std::filesystem::directory_iterator());
        EXPECT_FALSE(load(console, dir.write(c.name, c.image).c_str(), &line));
        EXPECT_EQ(std::string(c.format) + "cannot open file\n", screen.text);
        EXPECT_EQ("\r", line.written);
        EXPECT_EQ(Typing, console.state);
        // The refused file was closed.
        EXPECT_EQ(openBefore, std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                            std::filesystem::directory_iterator()));
    }
}

}  // namespace
