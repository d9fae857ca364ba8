#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A port served over the network, named as a URL: rfc2217://HOST:PORT for a
// telnet server with the COM port control option, tcp://HOST:PORT for a raw
// byte stream. HOST is a name, an IPv4 address or an IPv6 address in
// brackets.
namespace serial {

enum class NetworkProtocol : std::uint8_t { Rfc2217, RawTcp };

struct NetworkAddress {
    NetworkProtocol protocol;
    std::string host;  // without the brackets of an IPv6 literal
    std::uint16_t port;
};

// A port name is a URL only when it holds "://"; every other name is a
// local device.
bool isNetworkPortName(const std::string& portName);

// The address a URL names, or nothing when it is not one this program can
// open: another scheme, no or an empty host, no port, port 0 or above 65535,
// an unclosed bracket, anything after the port. The scheme's case does not
// matter. When given, problem says what is wrong, in a few words.
std::optional<NetworkAddress> parseNetworkAddress(const std::string& url,
                                                  std::string* problem = nullptr);

// What is wrong with a port name that is a URL and cannot be opened as one;
// empty for a good URL and for the name of a local device.
std::string portNameProblem(const std::string& portName);

}  // namespace serial
