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

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// What is wrong with HOST:PORT (or [HOST]:PORT); empty when nothing is.
// The host and the port's text are left in the arguments.
std::string splitHostPort(const std::string& rest, std::string& host, std::string& port) {
    if (rest.find_first_of("/?#") != std::string::npos) {
        return "nothing may follow the port number (a path, a '/')";
    }
    if (rest.find('@') != std::string::npos) {
        return "a user name (user@) is not taken";
    }
    std::size_t colon;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) return "the '[' of an IPv6 address is not closed";
        if (close + 1 >= rest.size() || rest[close + 1] != ':') {
            return "no port number after the ']' (as in [::1]:2217)";
        }
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return "no port number (HOST:PORT)";
        host = rest.substr(0, colon);
        if (host.find(':') != std::string::npos) {
            return "an IPv6 address goes in brackets, as in [::1]:2217";
        }
        if (host.find_first_of("[]") != std::string::npos) return "a stray bracket in the host";
    }
    if (host.empty()) return "no host before the port number";
    if (host.find_first_of(" \t") != std::string::npos) return "a space in the host";
    port = rest.substr(colon + 1);
    return {};
}

}  // namespace

std::optional<NetworkAddress> parseNetworkAddress(const std::string& url, std::string* problem) {
    std::string why;
    std::optional<NetworkAddress> address;
    const std::size_t separator = url.find("://");
    const std::string scheme = lowerCase(url.substr(0, separator));
    std::string host;
    std::string portText;
    if (separator == std::string::npos) {
        why = "not a URL";
    } else if (scheme != "rfc2217" && scheme != "tcp") {
        why = "the scheme must be rfc2217:// or tcp://";
    } else if (why = splitHostPort(url.substr(separator + 3), host, portText); why.empty()) {
        const std::optional<std::uint16_t> port = parsePort(portText);
        if (port) {
            address = NetworkAddress{
                scheme == "rfc2217" ? NetworkProtocol::Rfc2217 : NetworkProtocol::RawTcp, host,
                *port};
        } else {
            why = "the port number must be a number from 1 to 65535";
        }
    }
    if (problem != nullptr) *problem = why;
    return address;
}

std::string portNameProblem(const std::string& portName) {
    std::string problem;
    if (isNetworkPortName(portName)) parseNetworkAddress(portName, &problem);
    return problem;
}

}  // namespace serial
