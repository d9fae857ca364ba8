#include "sim/sparse_memory.h"

#include <algorithm>
#include <cstring>

namespace sim {

void SparseMemory::read(std::uint32_t address, std::uint8_t* out, std::uint32_t length) const {
    while (length > 0) {
        const std::uint32_t offset = address % pageSize;
        const std::uint32_t chunk = std::min(length, pageSize - offset);
        const auto found = pages_.find(address / pageSize);
        if (found == pages_.end()) {
            std::memset(out, 0, chunk);
        } else {
            std::memcpy(out, found->second->data() + offset, chunk);
        }
        out += chunk;
        length -= chunk;
        address += chunk;  // wraps past 0xffffffff
    }
}

void SparseMemory::write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t length) {
    while (length > 0) {
        const std::uint32_t offset = address % pageSize;
        const std::uint32_t chunk = std::min(length, pageSize - offset);
        auto& page = pages_[address / pageSize];
        if (!page) page = std::make_unique<Page>(Page{});
        std::memcpy(page->data() + offset, bytes, chunk);
        bytes += chunk;
        length -= chunk;
        address += chunk;
    }
}

std::uint32_t SparseMemory::readWord(std::uint32_t address) const {
    std::uint8_t b[4];
    read(address, b, 4);
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
           std::uint32_t(b[3]) << 24;
}

}  // namespace sim
