#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/e2e_console.h"
#include "sim/sim_target.h"

namespace e2e {

// Generous for a loaded machine or a sanitizer build; waits end as soon as
// what they wait for has happened.
inline constexpr milliseconds eventTimeout{10000};

// The console binary on a pseudo-terminal, its serial port the slave of an
// in-process simulated target.
class ConsoleOnTarget {
public:
    explicit ConsoleOnTarget(sim::Options targetOptions = {});
    ConsoleOnTarget(const ConsoleOnTarget&) = delete;
    ConsoleOnTarget& operator=(const ConsoleOnTarget&) = delete;

    // Starts the target, then the console on it at this baud rate, and waits
    // for the monitor's first prompt on the screen.
    bool start(std::int32_t baud = 115200, const std::vector<std::string>& extraArguments = {});

    sim::SimTarget& target() { return target_; }
    ConsoleProcess& console() { return console_; }
    std::string portArgument() const { return "-p" + target_.slavePath(); }

    // What the target has received so far, and waits for more of it.
    std::string receivedByTarget() const;
    std::size_t receivedCount() const;
    bool waitForTarget(std::string_view text, milliseconds timeout, std::size_t from = 0) const;

    // A monitor prompt printed at or after the screen position from.
    bool waitForPrompt(std::size_t from, milliseconds timeout = eventTimeout) const;
    // F10 F2; the exit code, or nothing when the console still runs.
    std::optional<int> quit(milliseconds timeout = eventTimeout);

private:
    // Declared first, destroyed last: the console goes before its line.
    sim::SimTarget target_;
    ConsoleProcess console_;
};

std::string textOf(const std::vector<std::uint8_t>& bytes);

}  // namespace e2e
