#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// The monitor's saved register set: the 32 general registers, hi, lo and
// epc. General registers answer to both r0..r31 and their conventional
// names (zero, at, v0, ..., ra; fp is s8). r0 always reads 0.
class RegisterFile {
public:
    static constexpr int generalCount = 32;
    static constexpr int hiIndex = 32;
    static constexpr int loIndex = 33;
    static constexpr int epcIndex = 34;
    static constexpr int count = 35;

    // Index of a register name, case ignored; nothing for an unknown name.
    static std::optional<int> indexOf(std::string_view name);
    // The name the register listing shows.
    static std::string_view displayName(int index);

    std::uint32_t get(int index) const { return values_[index]; }
    // Writes to r0 are dropped, as the hardware does.
    void set(int index, std::uint32_t value) {
        if (index != 0) values_[index] = value;
    }

private:
    std::array<std::uint32_t, count> values_{};
};

}  // namespace sim
