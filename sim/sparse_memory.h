#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace sim {

// The target's memory over the whole 32-bit address space. Only pages that
// were written take room; every other byte reads as 0. Addresses wrap at the
// top of the space, as the address arithmetic of the target does.
class SparseMemory {
public:
    static constexpr std::uint32_t pageSize = 4096;

    void read(std::uint32_t address, std::uint8_t* out, std::uint32_t length) const;
    void write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t length);
    // Little-endian 32-bit word, as the MIPS board stores it.
    std::uint32_t readWord(std::uint32_t address) const;
    std::size_t pagesInUse() const { return pages_.size(); }

private:
    using Page = std::array<std::uint8_t, pageSize>;
    std::unordered_map<std::uint32_t, std::unique_ptr<Page>> pages_;
};

}  // namespace sim
