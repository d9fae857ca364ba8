#include "serial/port_factory.h"

#include "serial/network_port.h"
#include "serial/port_address.h"

std::unique_ptr<SerialPort> makeSerialPort(const std::string& portName) {
    if (serial::isNetworkPortName(portName)) {
        return std::make_unique<NetworkPort>();
    }
    return std::make_unique<SerialPort>();
}
