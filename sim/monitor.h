#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/registers.h"
#include "sim/sim_target.h"
#include "sim/sparse_memory.h"

namespace sim {

inline constexpr std::string_view promptText = "\r\n>> ";
inline constexpr std::string_view bannerText =
    "\r\nkembri resident monitor (tolvanis-sim)\r\ntype help for the commands\r\n";

// The resident monitor as a byte-level state machine: each received byte goes
// in, whatever the monitor answers comes out. It knows nothing of time or of
// the line; whoever feeds it reports a silent line with timeOut().
class Monitor {
public:
    static constexpr std::uint32_t blockSize = 2048;
    static constexpr std::size_t maxLineLength = 128;
    static constexpr std::uint32_t defaultDumpWords = 0x10;
    static constexpr std::uint32_t maxDumpWords = 0x1000;

    explicit Monitor(const Faults& faults = {});

    // The banner and the first prompt.
    void greet(std::string& out) const;
    void receive(std::uint8_t byte, std::string& out);
    // The line has been silent too long: an open exchange is abandoned.
    void timeOut();
    bool inExchange() const { return state_ != State::Command; }

    RegisterFile& registers() { return registers_; }
    const RegisterFile& registers() const { return registers_; }
    SparseMemory& memory() { return memory_; }
    const SparseMemory& memory() const { return memory_; }
    int exchangesCompleted() const { return completed_; }
    int exchangesAborted() const { return aborted_; }

private:
    enum class State : std::uint8_t {
        Command,
        WriteHeader,
        WriteBlockStart,
        WriteBlockData,
        WriteChecksum,
        WriteEnd,
        ReadHeader,
        ReadRequest,
        ReadReply,
    };

    void commandByte(std::uint8_t byte, std::string& out);
    void echo(std::uint8_t byte, std::string& out) const;
    void runLine(std::string& out);
    void setRegister(const std::vector<std::string>& words, std::string& out);
    void listRegisters(std::string& out) const;
    void dumpWords(const std::vector<std::string>& words, std::string& out) const;

    void openExchange(State headerState, std::string& out);
    void headerByte(std::uint8_t byte, std::string& out);
    void blockStart(std::uint8_t byte);
    void checkBlock(std::uint8_t checksum, std::string& out);
    void endWrite(std::uint8_t byte, std::string& out);
    void sendBlock(std::string& out);
    void blockReply(std::uint8_t byte, std::string& out);
    void closeExchange(std::string& out);
    void abandonExchange();
    void acknowledge(std::string_view text, std::string& out) const;
    bool allBlocksDone() const { return done_ >= length_; }

    Faults faults_;
    RegisterFile registers_;
    SparseMemory memory_;
    State state_ = State::Command;

    std::string line_;
    bool lastWasCr_ = false;

    std::array<std::uint8_t, 9> header_{};
    std::size_t headerCount_ = 0;
    std::uint32_t address_ = 0;
    std::uint32_t length_ = 0;
    // Bytes of the exchange already confirmed; 64 bits so that the last
    // block of a length near 4 GiB does not wrap.
    std::uint64_t done_ = 0;
    std::array<std::uint8_t, blockSize> block_{};
    std::uint32_t blockFill_ = 0;
    std::uint8_t blockSum_ = 0;

    int nakSent_ = 0;
    int checksumsSpoiled_ = 0;
    int completed_ = 0;
    int aborted_ = 0;
};

// Parses 1 to 8 hexadecimal digits with an optional 0x; false for anything else.
bool parseHex(std::string_view text, std::uint32_t& value);

}  // namespace sim
