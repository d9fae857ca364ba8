#pragma once

// Executable images made by the tests themselves, and a scratch folder to
// put them in.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace loadertest {

// Reads what the target has said until the line goes quiet; one byte at a
// time, so the last read gives up after the short one-byte time-out.
template <typename Port>
void drainPort(Port& port) {
    char byte;
    while (port.read(&byte, 1) > 0) {
    }
}

using Bytes = std::vector<std::uint8_t>;

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "loader-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return (path / name).string(); }
    std::string write(const std::string& name, const Bytes& bytes) const {
        const std::string full = file(name);
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return full;
    }

    std::filesystem::path path;
};

inline void putLe16(Bytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void putLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Bytes that differ from block to block and from their neighbours.
inline Bytes pattern(std::size_t count, std::uint32_t seed) {
    Bytes bytes(count);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

struct ExeLayout {
    std::uint32_t initialPc = 0x80010000;
    std::uint32_t initialGp = 0x8001abcd;
    std::uint32_t loadAddress = 0x80010000;
    std::uint32_t loadSize = 0;  // taken from data when left 0 and data is not empty
    std::uint32_t stackBase = 0;
    std::uint32_t stackSize = 0;
    Bytes data;
    std::uint8_t filler = 0;  // header bytes that mean nothing
};

inline Bytes exeImage(const ExeLayout& layout) {
    Bytes bytes(2048 + layout.data.size(), layout.filler);
    const char magic[] = "QORA EXE";
    std::memcpy(bytes.data(), magic, 8);
    putLe32(bytes, 0x10, layout.initialPc);
    putLe32(bytes, 0x14, layout.initialGp);
    putLe32(bytes, 0x18, layout.loadAddress);
    putLe32(bytes, 0x1C, layout.loadSize != 0 ? layout.loadSize
                                            : static_cast<std::uint32_t>(layout.data.size()));
    putLe32(bytes, 0x30, layout.stackBase);
    putLe32(bytes, 0x34, layout.stackSize);
    std::copy(layout.data.begin(), layout.data.end(), bytes.begin() + 2048);
    return bytes;
}

struct SectionLayout {
    std::array<char, 8> name{};
    std::uint32_t paddr = 0;
    std::uint32_t vaddr = 0;
    std::uint32_t flags = 0;
    Bytes data;
    // Announced size; the length of data when not given.
    std::int64_t size = -1;
};

inline SectionLayout section(const char* name, std::uint32_t flags, std::uint32_t paddr, Bytes data) {
    SectionLayout layout;
    // Names of eight characters fill the field with no terminator.
    std::memcpy(layout.name.data(), name, std::min(std::strlen(name), layout.name.size()));
    layout.flags = flags;
    layout.paddr = paddr;
    layout.vaddr = paddr;
    layout.data = std::move(data);
    return layout;
}

struct EcoffLayout {
    std::uint32_t entry = 0x80010000;
    std::uint32_t gpValue = 0x80018000;
    std::uint16_t optionalHeaderSize = 56;
    std::uint16_t flags = 0x0002;
    std::vector<SectionLayout> sections;
};

// File header, optional header, section table, then each section's bytes in
// table order.
inline Bytes ecoffImage(const EcoffLayout& layout) {
    const std::size_t tableEnd = 76 + 40 * layout.sections.size();
    Bytes bytes(tableEnd, 0);
    putLe16(bytes, 0, 0x0162);
    putLe16(bytes, 2, static_cast<std::uint32_t>(layout.sections.size()));
    putLe16(bytes, 16, layout.optionalHeaderSize);
    putLe16(bytes, 18, layout.flags);
    putLe16(bytes, 20, 0x010b);
    putLe32(bytes, 20 + 16, layout.entry);
    putLe32(bytes, 20 + 52, layout.gpValue);
    for (std::size_t i = 0; i < layout.sections.size(); ++i) {
        const SectionLayout& s = layout.sections[i];
        const std::size_t at = 76 + 40 * i;
        std::memcpy(bytes.data() + at, s.name.data(), 8);
        putLe32(bytes, at + 8, s.paddr);
        putLe32(bytes, at + 12, s.vaddr);
        putLe32(bytes, at + 16,
                s.size >= 0 ? static_cast<std::uint32_t>(s.size)
                            : static_cast<std::uint32_t>(s.data.size()));
        putLe32(bytes, at + 20, static_cast<std::uint32_t>(bytes.size()));
        putLe32(bytes, at + 36, s.flags);
        bytes.insert(bytes.end(), s.data.begin(), s.data.end());
    }
    return bytes;
}

}  // namespace loadertest
