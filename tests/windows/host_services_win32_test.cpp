#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/host_services.h"
#include "tests/windows/win32_temp_folder.h"

namespace {

TEST(SystemHostServices, SleepLastsAsLongAsAsked) {
    SystemHostServices host;
    const auto started = std::chrono::steady_clock::now();
    host.sleepMilliseconds(250);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(240));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST(SystemHostServices, ShellRunsTheCommandToItsEnd) {
    TempFolder folder;
    ASSERT_TRUE(folder.ready());
    const std::string path = folder.file("made.txt");
    SystemHostServices host;
    host.shell(("echo made> \"" + path + "\"").c_str());
    // The command has finished when shell returns: its file is there.
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
    // A failing command is not an error of ours.
    host.shell("exit 3");
}

}  // namespace
