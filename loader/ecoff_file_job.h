#pragma once

#include <cstdint>
#include <memory>

#include "loader/executable_job.h"

// The parts of a little-endian MIPS ECOFF executable that a load reads.
inline constexpr std::uint32_t EcoffFileHeaderSize = 20;
inline constexpr std::uint32_t EcoffOptionalHeaderSize = 56;
inline constexpr std::uint32_t EcoffSectionHeaderSize = 40;
inline constexpr std::uint16_t EcoffExecutableFlag = 0x0002;

// One entry of the section table, kept as the 40 bytes the file holds.
struct EcoffSectionHeader {
    std::uint8_t bytes[EcoffSectionHeaderSize];

    // The name field; not terminated when the name fills all 8 bytes.
    const std::uint8_t* name() const { return bytes; }
    std::uint32_t physicalAddress() const;
    std::uint32_t size() const;
    std::uint32_t filePosition() const;
    std::uint32_t flags() const;
};
static_assert(sizeof(EcoffSectionHeader) == EcoffSectionHeaderSize);

struct LoadableSection {
    std::uint32_t flag;
    char name[8];
};

// The sections a load sends: the program's code and initialised data.
inline constexpr LoadableSection loadableSections[] = {
    {0x20, ".text"},
    {0x100, ".rdata"},
    {0x40, ".data"},
    {0x200, ".sdata"},
};

// True when one entry of loadableSections shares a flag bit with the section
// and has exactly its name.
bool isLoadableSection(const EcoffSectionHeader& section);

// Loads an ECOFF executable: one write exchange per loadable section, in the
// order of the section table, then the start registers.
class EcoffFileJob final : public ExecutableJob {
public:
    bool openFile(const char* path) override;
    bool send() override;

    std::unique_ptr<EcoffSectionHeader[]> sections;
    std::uint32_t sectionCount = 0;

private:
    // Every section the load will send lies within the file.
    bool loadableSectionsInFile() const;
};
