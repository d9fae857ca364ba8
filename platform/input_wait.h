#pragma once

#include <cstdint>

#include "platform/deadline.h"

namespace platform {

// Sleeps until one of the handles may have input, or until the deadline: a
// descriptor on POSIX, a waitable handle on Windows; -1 stands for none.
// Whatever ends the wait, the caller looks at its inputs again, so a signal
// or a spurious wake-up costs only a look.
void waitForInput(const std::intptr_t* handles, int count, const Deadline& deadline);

}  // namespace platform
