#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/serial_port_list.h"

namespace {

using platform::SerialDeviceInfo;

constexpr const char* KeyPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Values of the test's own in the serial port map, gone again with the
// object. Only the registry is written: no port comes or goes.
class PortMapEntries {
public:
    PortMapEntries() {
        // HARDWARE lives in memory only; keys under it must too.
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~PortMapEntries() {
        if (key_ == nullptr) return;
        for (const std::string& name : names_) RegDeleteValueA(key_, name.c_str());
        RegCloseKey(key_);
    }
    PortMapEntries(const PortMapEntries&) = delete;
    PortMapEntries& operator=(const PortMapEntries&) = delete;

    bool writable() const { return key_ != nullptr; }

    bool add(const std::string& device, DWORD type, const void* bytes, DWORD size) {
        names_.push_back(device);
        return RegSetValueExA(key_, device.c_str(), 0, type, static_cast<const BYTE*>(bytes),
                              size) == ERROR_SUCCESS;
    }
    bool addPort(const std::string& device, const std::string& port) {
        return add(device, REG_SZ, port.c_str(), static_cast<DWORD>(port.size() + 1));
    }

private:
    HKEY key_ = nullptr;
    std::vector<std::string> names_;
};

std::ptrdiff_t indexOf(const std::vector<SerialDeviceInfo>& devices, const std::string& name) {
    for (std::size_t at = 0; at < devices.size(); ++at) {
        if (devices[at].name == name) return static_cast<std::ptrdiff_t>(at);
    }
    return -1;
}

TEST(SerialPortListWin32, PortsOfTheMapInNaturalOrderWithTheirDevices) {
    PortMapEntries entries;
    if (!entries.writable()) GTEST_SKIP() << "the serial port map cannot be written here";
    ASSERT_TRUE(entries.addPort("\\Device\\TolvanisTest10", "COM1000"));
    ASSERT_TRUE(entries.addPort("\\Device\\TolvanisTest9", "COM999"));
    // Without a NUL of its own.
    ASSERT_TRUE(entries.add("\\Device\\TolvanisTestBare", REG_SZ, "COM998", 6));
    // Not port names: left out.
    ASSERT_TRUE(entries.addPort("\\Device\\TolvanisTestEmpty", ""));
    const DWORD number = 997;
    ASSERT_TRUE(entries.add("\\Device\\TolvanisTestNumber", REG_DWORD, &number, sizeof number));

    const auto devices = platform::listSerialPorts();
    const auto bare = indexOf(devices, "COM998");
    const auto nine = indexOf(devices, "COM999");
    const auto ten = indexOf(devices, "COM1000");
    ASSERT_GE(bare, 0);
    ASSERT_GE(nine, 0);
    ASSERT_GE(ten, 0);
    EXPECT_LT(bare, nine);
    EXPECT_LT(nine, ten);
    EXPECT_EQ(devices[static_cast<std::size_t>(ten)].details,
              std::vector<std::string>{"\\Device\\TolvanisTest10"});
    for (const SerialDeviceInfo& device : devices) {
        EXPECT_FALSE(device.name.empty());
        EXPECT_NE(device.details, std::vector<std::string>{"\\Device\\TolvanisTestNumber"});
    }
}

// What the machine itself has mapped, read without opening anything.
TEST(SerialPortListWin32, TheMachinesOwnMapIsInOrder) {
    const auto devices = platform::listSerialPorts();
    for (std::size_t at = 1; at < devices.size(); ++at) {
        EXPECT_TRUE(platform::naturalLess(devices[at - 1].name, devices[at].name))
            << devices[at - 1].name << " " << devices[at].name;
    }
    for (const SerialDeviceInfo& device : devices) EXPECT_EQ(device.details.size(), 1u);
}

}  // namespace
