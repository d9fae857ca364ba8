#pragma once

#include <cstdint>
#include <vector>

#include "loader/executable_job.h"

// The parts of a 32-bit little-endian MIPS ELF executable that a load reads.
inline constexpr std::uint32_t ElfHeaderSize = 52;
inline constexpr std::uint32_t ElfProgramHeaderSize = 32;
inline constexpr std::uint32_t ElfSectionHeaderSize = 40;
inline constexpr std::uint32_t ElfSymbolSize = 16;

// True when the first bytes (at least the 20 that hold them) name an ELF
// executable this loader can send: 32-bit, little-endian, MIPS, executable.
bool isMipsElfExecutable(const std::uint8_t* head, std::size_t length);

// A loadable segment's bytes in the file and where they go on the target.
struct ElfSegment {
    std::uint32_t fileOffset = 0;
    std::uint32_t physicalAddress = 0;
    std::uint32_t fileSize = 0;
};

// Loads an ELF executable: one write exchange per loadable segment that has
// bytes in the file, in the order of the program header table, then the
// start registers.
class ElfFileJob final : public ExecutableJob {
public:
    bool openFile(const char* path) override;
    bool send() override;

    std::vector<ElfSegment> segments;

private:
    struct Section {
        std::uint32_t name = 0;
        std::uint32_t type = 0;
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
        std::uint32_t link = 0;
        std::uint32_t entrySize = 0;
    };

    bool readAt(std::uint64_t offset, void* buffer, std::size_t count);
    bool inFile(std::uint64_t offset, std::uint64_t count) const;
    // Reads a table of count entries, entrySize bytes apart, handing the
    // first Used bytes of each to take; false when the table does not lie
    // within the file, its entries are shorter than Used, a read fails or
    // take gives false.
    template <std::size_t Used, typename Entry, typename Take>
    bool readTable(std::uint64_t offset, std::uint32_t entrySize, std::uint32_t count,
                   std::vector<Entry>& into, Take take);
    bool readSegments(const std::uint8_t* header);
    bool readSections(const std::uint8_t* header, std::vector<Section>& sections);
    bool hasName(const Section& names, std::uint32_t nameOffset, const char* wanted);
    bool findGp(const std::vector<Section>& sections, std::uint32_t namesIndex);
    bool findSymbol(const std::vector<Section>& sections, const Section& symbols,
                    const char* wanted, bool& found, std::uint32_t& value);

    std::uint64_t fileBytes_ = 0;
};
