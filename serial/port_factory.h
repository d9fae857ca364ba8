#pragma once

#include <memory>
#include <string>

#include "serial/serial_port.h"

// The port class a name asks for: a network port for a URL (a name with
// "://"), a local device for every other name. Not yet open.
std::unique_ptr<SerialPort> makeSerialPort(const std::string& portName);

// The line that says why an open failed, after "cannot open port"; empty
// where the port cannot tell.
std::string openFailureText(OpenFailure failure);
