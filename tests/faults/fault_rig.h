#pragma once

// The in-process rig for the fault matrix: the transfer tests' console on the
// simulated target, plus a second console on the same line whose keyboard
// hands out ESC only once a condition holds, so that a cancel lands in a
// chosen phase of a transfer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/console.h"
#include "sim/monitor.h"
#include "transfer/data_commands.h"
#include "transfer/block_codec.h"
#include "tests/transfer/sim_console.h"
#include "tests/transfer/temp_file.h"

namespace faults {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

inline constexpr std::uint32_t Base = 0x80010000;

// Polls a condition until it holds or the time is up.
template <typename Pred>
bool waitFor(Pred pred, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

class FaultRig {
public:
    explicit FaultRig(sim::Options options = {}) : sim(options), console(keys, sim.screen, sim.host) {
        console.port = &sim.port;
        console.state = AtPrompt;
        keys.type({::keys::Escape});
        keys.ready = [] { return false; };
    }

    // ESC, once when() says so; no other key. Asked by the console's main
    // thread only, at its looks at the keyboard.
    void escWhen(std::function<bool()> when) { keys.ready = std::move(when); }
    bool escTaken() const { return keys.taken.load() > 0; }

    // Everything the host sent, once the simulator has taken it all in.
    Bytes sent() const { return sim.sent(); }
    const std::string& screen() const { return sim.screen.text; }
    Bytes memory(std::uint32_t length, std::uint32_t at = Base) const {
        return sim.target.readMemory(at, length);
    }

    SimConsole sim;
    fakes::ScriptedKeys keys;
    Console console;
};

// --- what the host puts on the wire ---

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Bytes& operator+=(Bytes& to, const Bytes& more) {
    // Byte by byte: GCC 12 warns falsely about insert() from tiny vectors.
    to.reserve(to.size() + more.size());
    for (const std::uint8_t byte : more) to.push_back(byte);
    return to;
}

inline Bytes operator+(Bytes a, const Bytes& b) { return a += b; }

inline Bytes transferHeader(std::uint32_t address, std::uint32_t length) {
    return {TransferHeaderByte,
            std::uint8_t(address >> 24), std::uint8_t(address >> 16), std::uint8_t(address >> 8),
            std::uint8_t(address),
            std::uint8_t(length >> 24), std::uint8_t(length >> 16), std::uint8_t(length >> 8),
            std::uint8_t(length)};
}

// Block n of data as the host sends it: start byte, 2048 zero-padded bytes,
// checksum.
inline Bytes wireBlock(const Bytes& data, std::size_t n) {
    Bytes wire(BlockSize + 2, 0);
    const std::size_t at = n * BlockSize;
    const std::size_t count = std::min<std::size_t>(BlockSize, data.size() - at);
    wire[0] = BlockStartByte;
    std::memcpy(wire.data() + 1, data.data() + at, count);
    wire[BlockSize + 1] = blockChecksum(wire.data() + 1);
    return wire;
}

inline Bytes dloadOpening(std::uint32_t length, std::uint32_t address = Base) {
    return bytesOf("BWR\r") + transferHeader(address, length);
}

inline Bytes dsaveOpening(std::uint32_t length, std::uint32_t address = Base) {
    return bytesOf("BRD\r") + transferHeader(address, length);
}

// A whole clean dload, closing "\r" included.
inline Bytes dloadWire(const Bytes& data, std::uint32_t address = Base) {
    Bytes wire = dloadOpening(std::uint32_t(data.size()), address);
    for (std::size_t n = 0; n * BlockSize < data.size(); ++n) wire += wireBlock(data, n);
    wire.push_back('\r');
    return wire;
}

// A whole clean dsave: one request and one "Y" per block.
inline Bytes dsaveWire(std::uint32_t length, std::uint32_t address = Base) {
    Bytes wire = dsaveOpening(length, address);
    for (std::uint32_t at = 0; at < length; at += BlockSize) wire += Bytes{BlockStartByte, AckByte};
    return wire;
}

inline constexpr std::uint8_t CarriageReturn = '\r';

// How many bytes the target says before any exchange: banner and prompt.
inline long greetingLength() { return long(sim::bannerText.size() + sim::promptText.size()); }

// What the monitor sends back for "BWR\r" or "BRD\r": one echo a byte, the
// carriage return echoed as "\r\n".
inline constexpr long CommandEchoLength = 5;
inline constexpr long AcknowledgementLength = 7;  // "binary\r"

inline std::size_t stars(const std::string& screen) {
    return std::size_t(std::count(screen.begin(), screen.end(), '*'));
}

// The screen after a transfer: progress stars, then exactly the tail given.
inline bool screenIs(const std::string& screen, std::string_view tail) {
    if (screen.size() < tail.size() || !screen.ends_with(tail)) return false;
    return screen.find_first_not_of('*') == screen.size() - tail.size();
}

}  // namespace faults
