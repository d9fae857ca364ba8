#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "fuzz/instant_monitor.h"

namespace fuzzing {

// What a load should leave in target memory: file bytes at their addresses,
// later writes over earlier ones, addresses wrapping at the top as the
// target's do.
class LoadedImage {
public:
    void place(std::uint32_t address, const std::uint8_t* bytes, std::size_t count);
    // True when the monitor's memory holds every placed byte.
    bool matches(const InstantMonitor& line) const;

private:
    std::unordered_map<std::uint32_t, std::uint8_t> bytes_;
};

// True when the monitor's epc, gp and sp hold these values.
bool startRegistersAre(const InstantMonitor& line, std::uint32_t entry, std::uint32_t gp,
                       std::uint32_t sp);

}  // namespace fuzzing
