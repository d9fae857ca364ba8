#pragma once

#include <cstdint>

#include "transfer/rts_pulses.h"

class Console;
class SerialPort;

// dload: the host file at path into target memory at address.
bool dload(Console& console, const char* path, std::uint32_t address, SerialPort* port);
// dsave: length bytes of target memory at address into a new host file.
bool dsave(Console& console, const char* path, std::uint32_t address, std::uint32_t length,
           SerialPort* port, PulseMode pulses = PulseMode::Overlapped);
