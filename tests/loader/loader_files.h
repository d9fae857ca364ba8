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

struct SegmentLayout {
    std::uint32_t type = 1;  // a loadable segment
    std::uint32_t paddr = 0;
    std::uint32_t vaddr = 0;
    Bytes data;
    std::uint32_t extraMemory = 0;  // memory size beyond the file bytes, like a bss
};

inline SegmentLayout segment(std::uint32_t paddr, Bytes data) {
    SegmentLayout layout;
    layout.paddr = paddr;
    layout.vaddr = paddr;
    layout.data = std::move(data);
    return layout;
}

struct SymbolLayout {
    std::string name;
    std::uint32_t value = 0;
    std::uint16_t section = 1;  // 0: undefined
};

struct ElfLayout {
    std::uint8_t elfClass = 1;  // 32-bit
    std::uint8_t data = 1;      // little-endian
    std::uint16_t type = 2;     // executable
    std::uint16_t machine = 8;  // MIPS
    std::uint32_t entry = 0x80010000;
    std::vector<SegmentLayout> segments;
    // A .reginfo section with this gp, when set.
    bool hasRegisterInfo = false;
    std::uint32_t registerInfoGp = 0;
    // A symbol table, when not empty.
    std::vector<SymbolLayout> symbols;
    bool hasSections = true;
};

// Where elfImage put things, for tests that spoil them.
struct ElfOffsets {
    // Header fields.
    static constexpr std::size_t programTableField = 28;
    static constexpr std::size_t sectionTableField = 32;
    static constexpr std::size_t programEntrySizeField = 42;
    static constexpr std::size_t programCountField = 44;
    static constexpr std::size_t sectionCountField = 48;
    // The program header table follows the header.
    static constexpr std::size_t programTable = 52;
    static std::size_t segmentField(std::size_t index, std::size_t field) {
        return programTable + 32 * index + field;
    }
};

// .reginfo, .symtab, .strtab, .shstrtab and the section header table,
// after the segments' bytes.
inline void appendElfSections(Bytes& bytes, const ElfLayout& layout) {
    struct Section {
        std::uint32_t name, type, offset, size, link, entrySize;
    };
    std::vector<Section> sections{{0, 0, 0, 0, 0, 0}};
    std::string sectionNames(1, '\0');
    const auto addName = [](std::string& table, const std::string& name) {
        const auto at = static_cast<std::uint32_t>(table.size());
        table += name;
        table += '\0';
        return at;
    };
    const auto append = [&bytes](const Bytes& more) {
        const auto at = static_cast<std::uint32_t>(bytes.size());
        bytes.insert(bytes.end(), more.begin(), more.end());
        return at;
    };
    if (layout.hasRegisterInfo) {
        Bytes info(24, 0);
        putLe32(info, 0, 0x10000001);
        putLe32(info, 20, layout.registerInfoGp);
        sections.push_back({addName(sectionNames, ".reginfo"), 0x70000006, append(info), 24, 0, 24});
    }
    if (!layout.symbols.empty()) {
        std::string names(1, '\0');
        Bytes table(16, 0);  // the null symbol
        for (const SymbolLayout& symbol : layout.symbols) {
            Bytes entry(16, 0);
            putLe32(entry, 0, addName(names, symbol.name));
            putLe32(entry, 4, symbol.value);
            putLe16(entry, 14, symbol.section);
            table.insert(table.end(), entry.begin(), entry.end());
        }
        const auto symtabIndex = static_cast<std::uint32_t>(sections.size());
        sections.push_back({addName(sectionNames, ".symtab"), 2, append(table),
                            static_cast<std::uint32_t>(table.size()), symtabIndex + 1, 16});
        sections.push_back({addName(sectionNames, ".strtab"), 3, append(Bytes(names.begin(), names.end())),
                            static_cast<std::uint32_t>(names.size()), 0, 0});
    }
    const std::uint32_t namesName = addName(sectionNames, ".shstrtab");
    sections.push_back({namesName, 3, append(Bytes(sectionNames.begin(), sectionNames.end())),
                        static_cast<std::uint32_t>(sectionNames.size()), 0, 0});
    putLe32(bytes, 32, static_cast<std::uint32_t>(bytes.size()));
    putLe16(bytes, 46, 40);
    putLe16(bytes, 48, static_cast<std::uint32_t>(sections.size()));
    putLe16(bytes, 50, static_cast<std::uint32_t>(sections.size() - 1));
    for (const Section& section : sections) {
        Bytes entry(40, 0);
        putLe32(entry, 0, section.name);
        putLe32(entry, 4, section.type);
        putLe32(entry, 16, section.offset);
        putLe32(entry, 20, section.size);
        putLe32(entry, 24, section.link);
        putLe32(entry, 36, section.entrySize);
        append(entry);
    }
}

// ELF header, program header table, the segments' bytes in table order,
// then .reginfo, .symtab, .strtab, .shstrtab and the section header table.
inline Bytes elfImage(const ElfLayout& layout) {
    Bytes bytes(52 + 32 * layout.segments.size(), 0);
    const std::uint8_t ident[] = {0x7f, 'E', 'L', 'F', layout.elfClass, layout.data, 1};
    std::memcpy(bytes.data(), ident, sizeof ident);
    putLe16(bytes, 16, layout.type);
    putLe16(bytes, 18, layout.machine);
    putLe32(bytes, 20, 1);
    putLe32(bytes, 24, layout.entry);
    putLe32(bytes, 28, layout.segments.empty() ? 0 : 52);
    putLe16(bytes, 40, 52);
    putLe16(bytes, 42, 32);
    putLe16(bytes, 44, static_cast<std::uint32_t>(layout.segments.size()));
    for (std::size_t i = 0; i < layout.segments.size(); ++i) {
        const SegmentLayout& s = layout.segments[i];
        const std::size_t at = 52 + 32 * i;
        const auto fileSize = static_cast<std::uint32_t>(s.data.size());
        putLe32(bytes, at, s.type);
        putLe32(bytes, at + 4, static_cast<std::uint32_t>(bytes.size()));
        putLe32(bytes, at + 8, s.vaddr);
        putLe32(bytes, at + 12, s.paddr);
        putLe32(bytes, at + 16, fileSize);
        putLe32(bytes, at + 20, fileSize + s.extraMemory);
        bytes.insert(bytes.end(), s.data.begin(), s.data.end());
    }
    if (layout.hasSections) appendElfSections(bytes, layout);
    return bytes;
}

}  // namespace loadertest
