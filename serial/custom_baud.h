#pragma once

#include <cstdint>

namespace serial {

// Any rate, standard or not, through Linux's termios2 (BOTHER). The rest of
// the line settings stay as they are. False when the driver refuses.
bool setCustomBaud(int fd, std::uint32_t baud);
// The output rate the driver holds now.
bool currentBaud(int fd, std::uint32_t& baud);

}  // namespace serial
