#include <cctype>

#include "serial/serial_port.h"

// Windows opens COM10 and above only through the device namespace, so a
// bare COM<n> is opened as \\.\COM<n>, which serves COM1..COM9 as well.
// Every other name (a path, \\.\ already in front) goes as it stands.
std::string systemPortPath(const std::string& portName) {
    constexpr std::size_t PrefixLength = 3;
    if (portName.size() <= PrefixLength) {
        return portName;
    }
    for (std::size_t i = 0; i < PrefixLength; ++i) {
        // Device names are not case-sensitive.
        if (std::toupper(static_cast<unsigned char>(portName[i])) != "COM"[i]) {
            return portName;
        }
    }
    for (std::size_t i = PrefixLength; i < portName.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(portName[i]))) {
            return portName;
        }
    }
    return "\\\\.\\" + portName;
}
