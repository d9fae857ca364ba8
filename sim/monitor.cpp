#include "sim/monitor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sim {
namespace {

constexpr std::uint8_t headerStartByte = 0x01;
constexpr std::uint8_t blockStartByte = 0x02;
constexpr char ackByte = 'Y';
constexpr char nakByte = 'N';
constexpr std::uint8_t backspaceByte = 0x08;
constexpr std::uint8_t deleteByte = 0x7F;
constexpr char bellByte = '\a';

constexpr std::string_view helpText =
    "sr REG HEX        set a register (epc, gp, sp, r0..r31, at, v0, ..., ra, hi, lo)\r\n"
    "dr                list the registers\r\n"
    "dw ADDR [COUNT]   dump COUNT memory words (hex, default 10)\r\n"
    "BWR, BRD          binary write and read exchanges with the host\r\n"
    "help              this list\r\n";

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

std::string lowered(std::string text) {
    for (auto& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::uint8_t checksumOf(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = std::uint8_t(sum + bytes[i]);
    return sum;
}

}  // namespace

bool parseHex(std::string_view text, std::uint32_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 8) return false;
    std::uint32_t result = 0;
    for (char c : text) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : (c >= 'a' && c <= 'f')                     ? c - 'a' + 10
                          : (c >= 'A' && c <= 'F')                     ? c - 'A' + 10
                                                                       : -1;
        if (digit < 0) return false;
        result = result << 4 | std::uint32_t(digit);
    }
    value = result;
    return true;
}

Monitor::Monitor(const Faults& faults) : faults_(faults) {}

void Monitor::greet(std::string& out) const {
    out += bannerText;
    out += promptText;
}

void Monitor::receive(std::uint8_t byte, std::string& out) {
    switch (state_) {
    case State::Command: commandByte(byte, out); break;
    case State::WriteHeader:
    case State::ReadHeader: headerByte(byte, out); break;
    case State::WriteBlockStart: blockStart(byte); break;
    case State::WriteBlockData:
        block_[blockFill_++] = byte;
        blockSum_ = std::uint8_t(blockSum_ + byte);
        if (blockFill_ == blockSize) state_ = State::WriteChecksum;
        break;
    case State::WriteChecksum: checkBlock(byte, out); break;
    case State::WriteEnd: endWrite(byte, out); break;
    case State::ReadRequest:
        if (byte == blockStartByte) {
            sendBlock(out);
        } else {
            abandonExchange();
        }
        break;
    case State::ReadReply: blockReply(byte, out); break;
    }
}

void Monitor::timeOut() {
    if (inExchange()) abandonExchange();
}

// --- command mode ---

void Monitor::commandByte(std::uint8_t byte, std::string& out) {
    const bool afterCr = lastWasCr_;
    lastWasCr_ = byte == '\r';
    // CR LF is one line end, so that a line sent as "dr\r\n" is answered once.
    if (byte == '\n' && afterCr) return;

    if (byte == '\r' || byte == '\n') {
        echo(byte, out);
        runLine(out);
        return;
    }
    if (byte == backspaceByte || byte == deleteByte) {
        if (line_.empty()) return;
        line_.pop_back();
        if (faults_.wrongEcho) {
            echo(byte, out);
        } else {
            out += "\b \b";
        }
        return;
    }
    // Control bytes, the abort byte of an exchange already given up, and
    // other non-text bytes are not part of any command.
    if (byte < 0x20 || byte > 0x7E) return;
    if (line_.size() >= maxLineLength) {
        out += bellByte;
        return;
    }
    line_ += char(byte);
    echo(byte, out);
}

void Monitor::echo(std::uint8_t byte, std::string& out) const {
    if (faults_.wrongEcho) {
        // Still one byte for each byte, only not the same one.
        out += byte == '\r' ? '\n' : byte == '\n' ? '\r' : char(byte ^ 0x01);
    } else if (byte == '\r' || byte == '\n') {
        out += "\r\n";
    } else {
        out += char(byte);
    }
}

void Monitor::runLine(std::string& out) {
    const std::vector<std::string> words = splitWords(line_);
    line_.clear();
    if (words.empty()) {
        out += promptText;
        return;
    }
    // The exchange commands are the protocol's own words, upper case only.
    if (words[0] == "BWR") {
        openExchange(State::WriteHeader, out);
        return;
    }
    if (words[0] == "BRD") {
        openExchange(State::ReadHeader, out);
        return;
    }
    const std::string command = lowered(words[0]);
    if (command == "sr") {
        setRegister(words, out);
    } else if (command == "dr") {
        listRegisters(out);
    } else if (command == "dw") {
        dumpWords(words, out);
    } else if (command == "help") {
        out += helpText;
    } else {
        out += "unknown command\r\n";
    }
    out += promptText;
}

void Monitor::setRegister(const std::vector<std::string>& words, std::string& out) {
    if (words.size() != 3) {
        out += "usage: sr REG HEX\r\n";
        return;
    }
    const auto index = RegisterFile::indexOf(words[1]);
    if (!index) {
        out += "unknown register\r\n";
        return;
    }
    std::uint32_t value = 0;
    if (!parseHex(words[2], value)) {
        out += "bad value\r\n";
        return;
    }
    registers_.set(*index, value);
}

void Monitor::listRegisters(std::string& out) const {
    for (int i = 0; i < RegisterFile::count; ++i) {
        const std::string_view name = RegisterFile::displayName(i);
        out.append(4 - std::min<std::size_t>(4, name.size()), ' ');
        out += name;
        out += '=';
        out += hex8(registers_.get(i));
        const bool lineEnd = i % 4 == 3 || i == RegisterFile::count - 1;
        out += lineEnd ? "\r\n" : "  ";
    }
}

void Monitor::dumpWords(const std::vector<std::string>& words, std::string& out) const {
    std::uint32_t address = 0;
    std::uint32_t count = defaultDumpWords;
    if (words.size() < 2 || words.size() > 3) {
        out += "usage: dw ADDR [COUNT]\r\n";
        return;
    }
    if (!parseHex(words[1], address)) {
        out += "bad address\r\n";
        return;
    }
    if (words.size() == 3 && (!parseHex(words[2], count) || count == 0 || count > maxDumpWords)) {
        out += "bad count\r\n";
        return;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t at = address + 4 * i;
        if (i % 4 == 0) out += hex8(at) + ":";
        out += ' ';
        out += hex8(memory_.readWord(at));
        if (i % 4 == 3 || i + 1 == count) out += "\r\n";
    }
}

// --- binary exchanges ---

void Monitor::acknowledge(std::string_view text, std::string& out) const {
    if (!faults_.noiseAroundAcknowledgements) {
        out += text;
        return;
    }
    // The host finds the text as an in-order match, so stray bytes around
    // and between its characters must not matter.
    out += "#~";
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i > 0) out += '.';
        out += text[i];
    }
    // Nothing may follow "binary\r": the host takes the next byte as the
    // first block's reply (write) or data (read), so only the closing text
    // gets a trailing stray byte.
    if (text != "binary\r") out += '\n';
}

void Monitor::openExchange(State headerState, std::string& out) {
    state_ = headerState;
    headerCount_ = 0;
    done_ = 0;
    acknowledge("binary\r", out);
}

void Monitor::headerByte(std::uint8_t byte, std::string& out) {
    if (headerCount_ == 0 && byte != headerStartByte) {
        abandonExchange();
        return;
    }
    header_[headerCount_++] = byte;
    if (headerCount_ < header_.size()) return;

    auto word = [this](std::size_t at) {
        return std::uint32_t(header_[at]) << 24 | std::uint32_t(header_[at + 1]) << 16 |
               std::uint32_t(header_[at + 2]) << 8 | std::uint32_t(header_[at + 3]);
    };
    address_ = word(1);
    length_ = word(5);
    done_ = 0;
    if (state_ == State::WriteHeader) {
        state_ = length_ == 0 ? State::WriteEnd : State::WriteBlockStart;
    } else if (length_ == 0) {
        closeExchange(out);
    } else {
        state_ = State::ReadRequest;
    }
}

void Monitor::blockStart(std::uint8_t byte) {
    if (byte != blockStartByte) {
        abandonExchange();
        return;
    }
    blockFill_ = 0;
    blockSum_ = 0;
    state_ = State::WriteBlockData;
}

void Monitor::checkBlock(std::uint8_t checksum, std::string& out) {
    state_ = State::WriteBlockStart;
    if (nakSent_ < faults_.nakFirstBlocks) {
        ++nakSent_;
        out += nakByte;
        return;
    }
    if (checksum != blockSum_) {
        // The host sends the same block again.
        out += nakByte;
        return;
    }
    out += ackByte;
    // Only the bytes the length covers are the host's data; the rest of a
    // final block is padding.
    const std::uint32_t count = std::uint32_t(std::min<std::uint64_t>(blockSize, length_ - done_));
    memory_.write(address_ + std::uint32_t(done_), block_.data(), count);
    done_ += blockSize;
    if (allBlocksDone()) state_ = State::WriteEnd;
}

void Monitor::endWrite(std::uint8_t byte, std::string& out) {
    if (byte == '\r') {
        closeExchange(out);
    } else {
        abandonExchange();
    }
}

void Monitor::sendBlock(std::string& out) {
    // A final partial block still goes out whole: memory past the length
    // fills it.
    memory_.read(address_ + std::uint32_t(done_), block_.data(), blockSize);
    std::uint8_t checksum = checksumOf(block_.data(), blockSize);
    if (checksumsSpoiled_ < faults_.badChecksumFirstBlocks) {
        ++checksumsSpoiled_;
        checksum = std::uint8_t(checksum + 1);
    }
    out.append(reinterpret_cast<const char*>(block_.data()), blockSize);
    out += char(checksum);
    state_ = State::ReadReply;
}

void Monitor::blockReply(std::uint8_t byte, std::string& out) {
    if (byte == std::uint8_t(ackByte)) {
        done_ += blockSize;
        if (allBlocksDone()) {
            closeExchange(out);
        } else {
            state_ = State::ReadRequest;
        }
    } else if (byte == std::uint8_t(nakByte)) {
        // The host asks for the same block again with a new start byte.
        state_ = State::ReadRequest;
    } else {
        abandonExchange();
    }
}

void Monitor::closeExchange(std::string& out) {
    acknowledge("end binary\r", out);
    if (!faults_.noPromptAfterExchange) out += promptText;
    ++completed_;
    state_ = State::Command;
    line_.clear();
    lastWasCr_ = false;
}

void Monitor::abandonExchange() {
    // The abort byte 0xFF, a byte that has no place here, or a silent host: back
    // to commands without a word, as the host awaits nothing more.
    ++aborted_;
    state_ = State::Command;
    line_.clear();
    lastWasCr_ = false;
}

}  // namespace sim
