#pragma once

#include <string>
#include <string_view>
#include <vector>

// The serial devices of this machine, for `--list`: found without opening
// any of them.
namespace platform {

// A device by the name -p takes, and what the system knows of it, a column
// each: the driver and the udev names on Linux, the kernel's device name on
// Windows.
struct SerialDeviceInfo {
    std::string name;
    std::vector<std::string> details;
};

// The devices present now, in natural order. On Linux they are read from
// sysfs and /dev under $TOLVANIS_SYSFS_ROOT (the real ones when unset).
std::vector<SerialDeviceInfo> listSerialPorts();

#ifndef _WIN32
// The same, from the sys and dev folders under root ("" for the real ones).
std::vector<SerialDeviceInfo> listSerialPortsUnder(const std::string& root);
#endif

// Digit runs compare by value, so ttyS2 comes before ttyS10 and COM9 before
// COM10; names alike in value are ordered by their bytes.
bool naturalLess(std::string_view a, std::string_view b);
void sortSerialDevices(std::vector<SerialDeviceInfo>& devices);

// One line a device, its columns lined up; a line saying so when there is
// none.
std::string formatSerialDeviceList(const std::vector<SerialDeviceInfo>& devices);

}  // namespace platform
