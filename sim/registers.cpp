#include "sim/registers.h"

#include <cctype>

namespace sim {
namespace {

constexpr std::array<std::string_view, RegisterFile::count> names = {
    "zero", "at", "v0", "v1", "a0", "a1", "a2", "a3", "t0", "t1", "t2", "t3",
    "t4",   "t5", "t6", "t7", "s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7",
    "t8",   "t9", "k0", "k1", "gp", "sp", "s8", "ra", "hi", "lo", "epc"};

std::string lowered(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::optional<int> RegisterFile::indexOf(std::string_view name) {
    const std::string key = lowered(name);
    for (int i = 0; i < count; ++i) {
        if (names[i] == key) return i;
    }
    if (key == "fp") return 30;
    // r0 .. r31, without leading zeros beyond a single digit.
    if (key.size() >= 2 && key.size() <= 3 && key[0] == 'r') {
        int number = 0;
        for (std::size_t i = 1; i < key.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(key[i]))) return std::nullopt;
            number = number * 10 + (key[i] - '0');
        }
        if (key.size() == 3 && key[1] == '0') return std::nullopt;
        if (number < generalCount) return number;
    }
    return std::nullopt;
}

std::string_view RegisterFile::displayName(int index) { return names[index]; }

}  // namespace sim
