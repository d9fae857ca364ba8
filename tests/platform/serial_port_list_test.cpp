#include "platform/serial_port_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using platform::SerialDeviceInfo;

// A sys and dev tree as Linux shows it, in a temporary folder. Devices are
// folders here, their nodes in dev plain files: nothing real is touched.
class FakeSystem {
public:
    FakeSystem() {
        std::string pattern = (fs::temp_directory_path() / "serial-list-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) root_ = pattern;
    }
    ~FakeSystem() {
        if (!root_.empty()) fs::remove_all(root_);
    }
    FakeSystem(const FakeSystem&) = delete;
    FakeSystem& operator=(const FakeSystem&) = delete;

    const std::string& root() const { return root_; }

    // /sys/class/tty/NAME; with hardware behind it when devicePath is given
    // (a folder under /sys/devices, bound to driver on bus).
    void addTty(const std::string& name, const std::string& devicePath = "",
                const std::string& driver = "", const std::string& bus = "platform") {
        const fs::path tty = sys("devices/virtual/tty") / name;
        fs::create_directories(tty);
        fs::create_directories(sys("class/tty"));
        fs::create_directory_symlink(fs::relative(tty, sys("class/tty")), sys("class/tty") / name);
        fs::create_directories(dev());
        std::ofstream(dev() / name).put('\0');
        if (devicePath.empty()) return;
        addDevice(devicePath, driver, bus);
        fs::create_directory_symlink(fs::relative(sys("devices") / devicePath, tty),
                                     tty / "device");
    }
    // A device folder bound to driver on bus (the driver folder need not be
    // there: only the link's name counts).
    void addDevice(const std::string& devicePath, const std::string& driver,
                   const std::string& bus = "platform") {
        const fs::path device = sys("devices") / devicePath;
        fs::create_directories(device);
        if (!driver.empty()) {
            fs::create_directory_symlink(
                fs::relative(sys("bus") / bus / "drivers" / driver, device), device / "driver");
        }
        fs::create_directory_symlink(fs::relative(sys("bus") / bus, device), device / "subsystem");
    }
    void setType(const std::string& name, const std::string& text) {
        std::ofstream(sys("devices/virtual/tty") / name / "type") << text;
    }
    void addById(const std::string& linkName, const std::string& target) {
        fs::create_directories(dev() / "serial/by-id");
        fs::create_symlink(target, dev() / "serial/by-id" / linkName);
    }

    fs::path sys(const std::string& under) const { return fs::path(root_) / "sys" / under; }
    fs::path dev() const { return fs::path(root_) / "dev"; }

private:
    std::string root_;
};

std::vector<std::string> namesOf(const std::vector<SerialDeviceInfo>& devices) {
    std::vector<std::string> names;
    for (const SerialDeviceInfo& device : devices) names.push_back(device.name);
    return names;
}

const SerialDeviceInfo* find(const std::vector<SerialDeviceInfo>& devices,
                             const std::string& name) {
    for (const SerialDeviceInfo& device : devices) {
        if (device.name == name) return &device;
    }
    return nullptr;
}

using Details = std::vector<std::string>;

TEST(SerialPortList, FindsDevicesThatAreThereWithDriverAndStableNames) {
    FakeSystem system;
    ASSERT_FALSE(system.root().empty());
    system.addTty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
    system.addById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
    system.addById("usb-gone-if00-port0", "../../ttyUSB7");  // left behind by a device unplugged
    system.addTty("ttyACM0", "pci0/usb1/1-2/1-2:1.0", "cdc_acm");
    system.addTty("ttyS0", "serial8250/ttyS0", "serial8250");
    system.setType("ttyS0", "4\n");
    system.addTty("ttyS1", "serial8250/ttyS1", "serial8250");
    system.setType("ttyS1", "0\n");  // no UART answered
    system.addTty("ttyS10", "serial8250/ttyS10", "serial8250");
    system.setType("ttyS10", "4\n");
    system.addTty("ttyS2", "serial8250/ttyS2", "serial8250");
    system.setType("ttyS2", "16\n");
    system.addTty("tty1");  // a virtual console
    system.addTty("ptmx");

    const auto devices = platform::listSerialPortsUnder(system.root());
    EXPECT_EQ(namesOf(devices),
              (Details{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0"}));
    ASSERT_NE(find(devices, "/dev/ttyUSB0"), nullptr);
    EXPECT_EQ(find(devices, "/dev/ttyUSB0")->details,
              (Details{"ftdi_sio", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}));
    EXPECT_EQ(find(devices, "/dev/ttyACM0")->details, Details{"cdc_acm"});
    EXPECT_EQ(find(devices, "/dev/ttyS0")->details, Details{"serial8250"});

    EXPECT_EQ(platform::formatSerialDeviceList(devices),
              "/dev/ttyACM0  cdc_acm\n"
              "/dev/ttyS0    serial8250\n"
              "/dev/ttyS2    serial8250\n"
              "/dev/ttyS10   serial8250\n"
              "/dev/ttyUSB0  ftdi_sio    /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n");
}

// Since Linux 6.5 a ttyS's device is a port of the serial core's bus, below
// a controller of that bus; both are bound to generic drivers.
TEST(SerialPortList, DriverIsTheHardwaresNotTheSerialCoresOwn) {
    FakeSystem system;
    ASSERT_FALSE(system.root().empty());
    system.addDevice("pnp0/00:00", "serial", "pnp");
    system.addDevice("pnp0/00:00/00:00:0", "ctrl", "serial-base");
    system.addTty("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "port", "serial-base");
    system.setType("ttyS0", "4");
    system.addTty("ttyAMA0", "platform/fe201000.serial", "uart-pl011");
    system.setType("ttyAMA0", "unknown");  // not a number: nothing to trust

    const auto devices = platform::listSerialPortsUnder(system.root());
    ASSERT_EQ(namesOf(devices), Details{"/dev/ttyS0"});
    EXPECT_EQ(devices[0].details, Details{"serial"});
}

TEST(SerialPortList, SeveralStableNamesForOneDeviceAndNoneWithoutItsNode) {
    FakeSystem system;
    ASSERT_FALSE(system.root().empty());
    system.addTty("ttyUSB1", "usb/ttyUSB1", "pl2303");
    system.addById("usb-Prolific-port0-b", "../../ttyUSB1");
    system.addById("usb-Prolific-port0-a", "../../ttyUSB1");
    system.addTty("ttyUSB2", "usb/ttyUSB2", "cp210x");
    system.addById("usb-Silabs-port0", "../../ttyUSB2");
    fs::remove(system.dev() / "ttyUSB2");  // udev has not made the node yet
    const auto devices = platform::listSerialPortsUnder(system.root());
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].details,
              (Details{"pl2303", "/dev/serial/by-id/usb-Prolific-port0-a", "/dev/serial/by-id/usb-Prolific-port0-b"}));
    EXPECT_EQ(devices[1].details, Details{"cp210x"});
}

TEST(SerialPortList, NothingThereIsAnEmptyListAndALineThatSaysSo) {
    FakeSystem system;
    ASSERT_FALSE(system.root().empty());
    EXPECT_TRUE(platform::listSerialPortsUnder(system.root()).empty());
    system.addTty("tty0");
    system.addTty("ttyS3", "serial8250/ttyS3", "serial8250");
    system.setType("ttyS3", "0");
    EXPECT_TRUE(platform::listSerialPortsUnder(system.root()).empty());
    EXPECT_EQ(platform::formatSerialDeviceList({}), "no serial devices found\n");
}

TEST(SerialPortList, NaturalOrder) {
    const std::vector<std::string> ordered = {
        "/dev/ttyACM0", "/dev/ttyS2", "/dev/ttyS010", "/dev/ttyS10", "/dev/ttyS11", "/dev/ttyUSB0",
        "/dev/ttyUSB1", "COM1", "COM2", "COM9", "COM10", "COM100", "COM100a", "COMX"};
    for (std::size_t a = 0; a < ordered.size(); ++a) {
        EXPECT_FALSE(platform::naturalLess(ordered[a], ordered[a])) << ordered[a];
        for (std::size_t b = a + 1; b < ordered.size(); ++b) {
            EXPECT_TRUE(platform::naturalLess(ordered[a], ordered[b]))
                << ordered[a] << " < " << ordered[b];
            EXPECT_FALSE(platform::naturalLess(ordered[b], ordered[a]))
                << ordered[b] << " < " << ordered[a];
        }
    }
    std::vector<SerialDeviceInfo> devices = {{"COM10", {}}, {"COM3", {}}, {"COM1", {}}};
    platform::sortSerialDevices(devices);
    EXPECT_EQ(namesOf(devices), (Details{"COM1", "COM3", "COM10"}));
}

TEST(SerialPortList, ColumnsLineUpAndLinesCarryNoTrailingSpace) {
    const std::vector<SerialDeviceInfo> devices = {
        {"COM1", {"\\Device\\Serial0"}},
        {"COM12", {"\\Device\\VCP0"}},
        {"/dev/ttyUSB0", {"", "by-id-name"}},
        {"X", {}},
    };
    EXPECT_EQ(platform::formatSerialDeviceList(devices),
              "COM1          \\Device\\Serial0\n"
              "COM12         \\Device\\VCP0\n"
              "/dev/ttyUSB0                   by-id-name\n"
              "X\n");
}

}  // namespace
