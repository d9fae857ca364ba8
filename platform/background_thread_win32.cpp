#include "platform/background_thread.h"

namespace platform {

// Windows has no signals to hold back: a console control event comes on a
// thread of its own.
SignalsHeld::SignalsHeld() : saved_{} {}

SignalsHeld::~SignalsHeld() = default;

}  // namespace platform
