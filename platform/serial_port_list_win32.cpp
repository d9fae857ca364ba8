#include "platform/serial_port_list.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

// Every serial port driver enters its ports in
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM while they are there: the
// value's name is the kernel's device (\Device\Serial0), its data the port
// name (COM1). Reading the key opens no port.
namespace platform {

namespace {

// Registry value names stop at 16383 characters; data beyond this is no port
// name.
constexpr DWORD MaxNameBytes = 16384;
constexpr DWORD MaxDataBytes = 64 * 1024;

// Text up to the first NUL; the registry does not promise one.
std::string textOf(const std::vector<char>& bytes, DWORD length) {
    const void* end = std::memchr(bytes.data(), '\0', length);
    return std::string(bytes.data(), end != nullptr
                                         ? static_cast<std::size_t>(
                                               static_cast<const char*>(end) - bytes.data())
                                         : length);
}

}  // namespace

std::vector<SerialDeviceInfo> listSerialPorts() {
    std::vector<SerialDeviceInfo> devices;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        // No serial port has ever been there.
        return devices;
    }
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        longestName = 0;
        longestData = 0;
    }
    std::vector<char> name(std::min(longestName + 1, MaxNameBytes));
    std::vector<char> data(std::min(longestData + 1, MaxDataBytes));
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG result =
            RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &dataLength);
        if (result == ERROR_MORE_DATA) {
            // A value added since the key was asked about; grown buffers
            // read it again, up to the limits.
            if (name.size() < MaxNameBytes || data.size() < MaxDataBytes) {
                name.resize(MaxNameBytes);
                data.resize(MaxDataBytes);
            } else {
                ++index;
            }
            continue;
        }
        if (result != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS at the end
        ++index;
        if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
        const std::string port = textOf(data, dataLength);
        if (!port.empty()) devices.push_back({port, {std::string(name.data(), nameLength)}});
    }
    RegCloseKey(key);
    sortSerialDevices(devices);
    return devices;
}

}  // namespace platform
