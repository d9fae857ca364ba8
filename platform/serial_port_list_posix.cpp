#include "platform/serial_port_list.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

// Linux tells of its ttys in sysfs: /sys/class/tty/NAME is there for every
// tty, and has a `device` link only when hardware stands behind it. udev
// adds stable names in /dev/serial/by-id. Only links and attribute files are
// read; no device is opened.
namespace platform {

namespace {

namespace fs = std::filesystem;

// Devices of the serial core's own bus (a port, its controller) sit between
// the tty and the hardware since Linux 6.5, and are bound to generic
// drivers; the hardware's driver is a few parents up.
constexpr const char* SerialCoreBus = "serial-base";
constexpr int MaxSerialCoreLevels = 4;

std::string linkTargetName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

std::string driverOf(const fs::path& device) {
    std::error_code error;
    fs::path hardware = fs::canonical(device, error);
    if (error) return {};
    for (int level = 0; level < MaxSerialCoreLevels; ++level) {
        if (linkTargetName(hardware / "subsystem") != SerialCoreBus) break;
        hardware = hardware.parent_path();
    }
    return linkTargetName(hardware / "driver");
}

// A serial-core port tells its UART type; 0 (unknown) means no UART
// answered where one was configured, as for most of the ttyS0..ttyS31 that
// the 8250 driver makes. Other ttys have no such attribute.
bool uartAnswers(const fs::path& tty) {
    std::error_code error;
    const fs::path typeFile = tty / "type";
    if (!fs::exists(typeFile, error)) return true;
    std::ifstream file(typeFile);
    long type = 0;
    return static_cast<bool>(file >> type) && type != 0;
}

// The udev names, by the device each leads to. Links that lead nowhere are
// left out.
std::map<fs::path, std::vector<std::string>> namesById(const fs::path& folder) {
    std::map<fs::path, std::vector<std::string>> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code linkError;
        if (!entry->is_symlink(linkError)) continue;
        const fs::path device = fs::canonical(entry->path(), linkError);
        // The whole path, which -p takes as it stands and which stays the
        // same when the device comes back under another ttyUSB number.
        if (!linkError) names[device].push_back("/dev/serial/by-id/" + entry->path().filename().string());
    }
    for (auto& [device, list] : names) std::sort(list.begin(), list.end());
    return names;
}

}  // namespace

std::vector<SerialDeviceInfo> listSerialPortsUnder(const std::string& root) {
    const fs::path sysTty = root + "/sys/class/tty";
    const fs::path dev = root + "/dev";
    const auto byId = namesById(dev / "serial" / "by-id");

    std::vector<SerialDeviceInfo> devices;
    std::error_code error;
    for (fs::directory_iterator entry(sysTty, error), end; !error && entry != end;
         entry.increment(error)) {
        const fs::path tty = entry->path();
        std::error_code entryError;
        if (!fs::is_directory(tty / "device", entryError) || !uartAnswers(tty)) continue;

        const std::string name = tty.filename().string();
        SerialDeviceInfo device{"/dev/" + name, {}};
        const std::string driver = driverOf(tty / "device");
        device.details.push_back(driver.empty() ? "-" : driver);
        const fs::path node = fs::canonical(dev / name, entryError);
        if (!entryError) {
            const auto names = byId.find(node);
            if (names != byId.end()) {
                device.details.insert(device.details.end(), names->second.begin(),
                                      names->second.end());
            }
        }
        devices.push_back(std::move(device));
    }
    sortSerialDevices(devices);
    return devices;
}

std::vector<SerialDeviceInfo> listSerialPorts() {
    const char* root = std::getenv("TOLVANIS_SYSFS_ROOT");
    return listSerialPortsUnder(root != nullptr ? root : "");
}

}  // namespace platform
