#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a host puts on the wire in a binary exchange, built independently of
// the simulator's code.
namespace frames {

constexpr std::size_t blockSize = 2048;

inline std::string word(std::uint32_t value) {
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

inline std::string header(std::uint32_t address, std::uint32_t length) {
    return "\x01" + word(address) + word(length);
}

inline std::uint8_t checksum(const std::string& data) {
    unsigned sum = 0;
    for (unsigned char c : data) sum += c;
    return std::uint8_t(sum & 0xFF);
}

// 0x02, the 2048 bytes (data padded with `fill`), the checksum.
inline std::string block(std::string data, char fill = 0) {
    data.resize(blockSize, fill);
    return "\x02" + data + char(checksum(data));
}

inline std::string pattern(std::size_t count, unsigned seed) {
    std::string out(count, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (auto& c : out) {
        state = state * 1103515245u + 12345u;
        c = char(state >> 16);
    }
    return out;
}

inline std::vector<std::uint8_t> asBytes(const std::string& text) { return {text.begin(), text.end()}; }
inline std::string asText(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

}  // namespace frames
