// `tolvanis --list` as a user runs it: the devices of a given sys/dev tree,
// and neither the settings nor any port touched.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/e2e_console.h"
#include "tests/support/e2e_session.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// The program's environment names the tree it lists, for one test.
class ListCommand : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("TOLVANIS_SYSFS_ROOT"); }

    void useTree(const std::string& root) { setenv("TOLVANIS_SYSFS_ROOT", root.c_str(), 1); }

    // A USB serial adapter as udev and sysfs show it.
    void addUsbAdapter(const fs::path& root) {
        const fs::path device = root / "sys/devices/usb1/1-1/1-1:1.0/ttyUSB0";
        const fs::path tty = root / "sys/class/tty/ttyUSB0";
        fs::create_directories(device);
        fs::create_directories(tty);
        fs::create_directories(root / "dev/serial/by-id");
        fs::create_directory_symlink("../../../bus/usb-serial/drivers/ftdi_sio",
                                     device / "driver");
        fs::create_directory_symlink(fs::relative(device, tty), tty / "device");
        std::ofstream(root / "dev/ttyUSB0").put('\0');
        fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    }

    // Runs `tolvanis ARGUMENTS` to its end; its screen, or "" when it did not
    // end with 0.
    std::string run(ConsoleProcess& console, const std::vector<std::string>& arguments) {
        if (!console.start(arguments)) return "";
        const auto code = console.waitForExit(eventTimeout);
        EXPECT_EQ(code, 0);
        return code == 0 ? console.screen() : "";
    }
};

TEST_F(ListCommand, PrintsTheDevicesOfTheTreeAndTouchesNothingElse) {
    TempFolder tree;
    addUsbAdapter(tree.path());
    useTree(tree.path());
    TempFolder folder;
    // A port that cannot be opened would say so, were one tried.
    ConsoleProcess console;
    const std::string screen = run(console, {"-p" + folder.file("no-such-device"), "--list"});
    EXPECT_EQ(screen, "/dev/ttyUSB0  ftdi_sio  /dev/serial/by-id/usb-FTDI_FT232R-if00-port0\r\n");
    EXPECT_FALSE(exists(console.configHome() + "/kembri"));
    EXPECT_TRUE(console.terminalRestored());
}

TEST_F(ListCommand, AnEmptyTreeIsSaidToHoldNoDevice) {
    TempFolder tree;
    useTree(tree.path());
    ConsoleProcess console;
    EXPECT_EQ(run(console, {"--list"}), "no serial devices found\r\n");
    EXPECT_FALSE(exists(console.configHome() + "/kembri"));
}

// Whatever this machine holds, the list of its own tree ends the program
// well, one line a device.
TEST_F(ListCommand, TheMachinesOwnTree) {
    unsetenv("TOLVANIS_SYSFS_ROOT");
    ConsoleProcess console;
    const std::string screen = run(console, {"--list"});
    ASSERT_TRUE(screen.ends_with("\r\n")) << screen;
    if (screen != "no serial devices found\r\n") {
        for (std::size_t line = 0; line < screen.size(); line = screen.find("\r\n", line) + 2) {
            EXPECT_EQ(screen.compare(line, 8, "/dev/tty"), 0) << screen;
        }
    }
    EXPECT_FALSE(exists(console.configHome() + "/kembri"));
}

}  // namespace
