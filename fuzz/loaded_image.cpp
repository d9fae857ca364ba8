#include "fuzz/loaded_image.h"

#include "sim/registers.h"

namespace fuzzing {

void LoadedImage::place(std::uint32_t address, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        bytes_[static_cast<std::uint32_t>(address + i)] = bytes[i];
    }
}

bool LoadedImage::matches(const InstantMonitor& line) const {
    for (const auto& [address, expected] : bytes_) {
        std::uint8_t held = 0;
        line.monitor.memory().read(address, &held, 1);
        if (held != expected) {
            return false;
        }
    }
    return true;
}

bool startRegistersAre(const InstantMonitor& line, std::uint32_t entry, std::uint32_t gp,
                       std::uint32_t sp) {
    const sim::RegisterFile& registers = line.monitor.registers();
    return registers.get(sim::RegisterFile::epcIndex) == entry &&
           registers.get(*sim::RegisterFile::indexOf("gp")) == gp &&
           registers.get(*sim::RegisterFile::indexOf("sp")) == sp;
}

}  // namespace fuzzing
