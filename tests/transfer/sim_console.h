#pragma once

// A real console with a real serial port on the simulated target, its
// keyboard, screen and host effects faked.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "console/console.h"
#include "serial/serial_port.h"
#include "sim/sim_target.h"
#include "tests/support/fakes.h"

class SimConsole {
public:
    explicit SimConsole(sim::Options options = {}) : target(options), console(keys, screen, host) {
        EXPECT_TRUE(target.start());
        EXPECT_TRUE(port.open(target.slavePath().c_str(), 115200));
        console.port = &port;
        console.state = AtPrompt;
        // Let the banner and first prompt pass, then start from a clean slate.
        EXPECT_TRUE(settle());
    }
    ~SimConsole() {
        port.close();
        target.stop();
    }

    // Reads what the target says until it is quiet, like the console loop.
    bool settle() {
        char chunk[10];
        for (int quiet = 0; quiet < 1;) {
            const std::int32_t n = port.read(chunk, sizeof chunk);
            if (n == 0) {
                ++quiet;
            } else {
                console.takeChunk(chunk, n);
            }
        }
        target.clearTranscript();
        screen.text.clear();
        return true;
    }

    // What the host sent, once the simulator has taken it all in: the
    // simulator reads on a thread of its own.
    std::vector<std::uint8_t> sent() const {
        std::vector<std::uint8_t> bytes = target.bytes(sim::Direction::ToTarget);
        for (int quiet = 0; quiet < 3;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            auto now = target.bytes(sim::Direction::ToTarget);
            quiet = now.size() == bytes.size() ? quiet + 1 : 0;
            bytes = std::move(now);
        }
        return bytes;
    }
    std::vector<std::uint8_t> received() const {
        return target.bytes(sim::Direction::FromTarget);
    }

    sim::SimTarget target;
    SerialPort port;
    fakes::ScriptedKeys keys;
    fakes::RecordingScreen screen;
    fakes::RecordingHost host;
    Console console;
};

inline std::size_t countByte(const std::vector<std::uint8_t>& bytes, std::uint8_t byte) {
    return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), byte));
}
