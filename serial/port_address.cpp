#include "serial/port_address.h"

#include <charconv>

namespace serial {

bool isNetworkPortName(const std::string& portName) {
    return portName.find("://") != std::string::npos;
}

namespace {

std::optional<std::uint16_t> parsePort(const std::string& text) {
    // Digits only: from_chars alone would take a sign or leave junk behind.
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    unsigned value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<NetworkAddress> parseNetworkAddress(const std::string& url) {
    const std::size_t separator = url.find("://");
    if (separator == std::string::npos) {
        return std::nullopt;
    }
    const std::string scheme = url.substr(0, separator);
    NetworkAddress address{NetworkProtocol::RawTcp, {}, 0};
    if (scheme == "rfc2217") {
        address.protocol = NetworkProtocol::Rfc2217;
    } else if (scheme != "tcp") {
        return std::nullopt;
    }
    const std::string rest = url.substr(separator + 3);
    std::size_t colon;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return std::nullopt;
        }
        address.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) {
            return std::nullopt;
        }
        address.host = rest.substr(0, colon);
        // An IPv6 address without brackets, or a path or user part, is not taken.
        if (address.host.find_first_of(":/@[]") != std::string::npos) {
            return std::nullopt;
        }
    }
    const std::optional<std::uint16_t> port = parsePort(rest.substr(colon + 1));
    if (address.host.empty() || !port ||
        address.host.find_first_of(" \t/@") != std::string::npos) {
        return std::nullopt;
    }
    address.port = *port;
    return address;
}

}  // namespace serial
