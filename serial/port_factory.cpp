#include "serial/port_factory.h"

#include "serial/network_port.h"
#include "serial/port_address.h"

std::unique_ptr<SerialPort> makeSerialPort(const std::string& portName) {
    if (serial::isNetworkPortName(portName)) {
        return std::make_unique<NetworkPort>();
    }
    return std::make_unique<SerialPort>();
}

std::string openFailureText(OpenFailure failure) {
    switch (failure) {
    case OpenFailure::NoSuchHost: return "the host name does not resolve";
    case OpenFailure::Refused: return "the connection was refused";
    case OpenFailure::NoAnswer: return "no answer from the server";
    case OpenFailure::Unreachable: return "the server cannot be reached";
    case OpenFailure::ClosedByServer: return "closed by the server (its device may be in use)";
    case OpenFailure::PortControlRefused: return "the server refused port control (RFC 2217)";
    case OpenFailure::PortControlSilent: return "no answer to the port control request";
    case OpenFailure::Unknown: break;
    }
    return {};
}
