#include "loader/elf_file_job.h"

#include <cstring>

#include "loader/little_endian.h"
#include "platform/host_file_io.h"
#include "platform/terminal.h"

namespace {

// Identification and header fields.
constexpr std::uint8_t ElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr std::size_t ClassOffset = 4;
constexpr std::size_t DataOffset = 5;
constexpr std::uint8_t Class32 = 1;
constexpr std::uint8_t LittleEndian = 1;
constexpr std::size_t TypeOffset = 16;
constexpr std::size_t MachineOffset = 18;
constexpr std::uint16_t ExecutableType = 2;
constexpr std::uint16_t MipsMachine = 8;
constexpr std::size_t IdentifyingBytes = 20;
constexpr std::size_t EntryOffset = 24;
constexpr std::size_t ProgramTableOffset = 28;
constexpr std::size_t SectionTableOffset = 32;
constexpr std::size_t ProgramEntrySizeOffset = 42;
constexpr std::size_t ProgramCountOffset = 44;
constexpr std::size_t SectionEntrySizeOffset = 46;
constexpr std::size_t SectionCountOffset = 48;
constexpr std::size_t SectionNamesIndexOffset = 50;

// Program header fields.
constexpr std::uint32_t LoadSegment = 1;
constexpr std::size_t SegmentTypeOffset = 0;
constexpr std::size_t SegmentFileOffset = 4;
constexpr std::size_t SegmentPhysicalAddressOffset = 12;
constexpr std::size_t SegmentFileSizeOffset = 16;

// Section header fields: name and type; where the bytes are and how many;
// the linked section and the size of an entry, for tables.
constexpr std::size_t SectionNameOffset = 0, SectionTypeOffset = 4;
constexpr std::size_t SectionFileOffset = 16, SectionSizeOffset = 20;
constexpr std::size_t SectionLinkOffset = 24, SectionEntrySizeField = 36;
constexpr std::uint32_t SymbolTableType = 2;

// The register information record keeps the link's gp in its last word.
constexpr char RegisterInfoName[] = ".reginfo";
constexpr std::uint32_t RegisterInfoSize = 24;
constexpr std::uint32_t RegisterInfoGpOffset = 20;

// Symbol fields.
constexpr std::size_t SymbolNameOffset = 0, SymbolValueOffset = 4, SymbolSectionOffset = 14;
constexpr char GpSymbolName[] = "_gp";

}  // namespace

bool isMipsElfExecutable(const std::uint8_t* head, std::size_t length) {
    return length >= IdentifyingBytes && std::memcmp(head, ElfMagic, sizeof ElfMagic) == 0 &&
           head[ClassOffset] == Class32 && head[DataOffset] == LittleEndian &&
           readLe16(head + TypeOffset) == ExecutableType &&
           readLe16(head + MachineOffset) == MipsMachine;
}

bool ElfFileJob::inFile(std::uint64_t offset, std::uint64_t count) const {
    return rangeInFile(offset, count, fileBytes_);
}

// Every loop over the file reads through here: a request to end the program
// ends the header work too, however large the tables.
bool ElfFileJob::readAt(std::uint64_t offset, void* buffer, std::size_t count) {
    return !platform::terminationRequested() && inFile(offset, count) &&
           platform::seekFile(handle, offset) && readExactly(buffer, count);
}

bool ElfFileJob::openFile(const char* path) {
    std::uint8_t header[ElfHeaderSize];
    if (!openWithHeader(path, header, sizeof header) || !platform::fileSize(handle, fileBytes_) ||
        !isMipsElfExecutable(header, sizeof header)) {
        return false;
    }
    entry = readLe32(header + EntryOffset);
    sp = defaultStackPointer;
    gp = 0;

    std::vector<Section> sections;
    return readSegments(header) && readSections(header, sections) &&
           findGp(sections, readLe16(header + SectionNamesIndexOffset));
}

template <std::size_t Used, typename Entry, typename Take>
bool ElfFileJob::readTable(std::uint64_t offset, std::uint32_t entrySize, std::uint32_t count,
                           std::vector<Entry>& into, Take take) {
    // Entries may be longer than the fields read here, never shorter; the
    // whole table must lie within the file.
    if (entrySize < Used || !inFile(offset, std::uint64_t{count} * entrySize)) {
        return false;
    }
    // One allocation, bounded by the table's bytes in the file, however the
    // entries are kept.
    static_assert(sizeof(Entry) <= Used);
    into.reserve(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        std::uint8_t fields[Used];
        if (!readAt(offset + std::uint64_t{index} * entrySize, fields, sizeof fields) || !take(fields)) {
            return false;
        }
    }
    return true;
}

bool ElfFileJob::readSegments(const std::uint8_t* header) {
    const std::uint32_t count = readLe16(header + ProgramCountOffset);
    segments.clear();
    if (count == 0) {
        return true;
    }
    return readTable<ElfProgramHeaderSize>(
        readLe32(header + ProgramTableOffset), readLe16(header + ProgramEntrySizeOffset), count,
        segments, [this](const std::uint8_t* fields) {
            ElfSegment segment;
            segment.fileOffset = readLe32(fields + SegmentFileOffset);
            segment.physicalAddress = readLe32(fields + SegmentPhysicalAddressOffset);
            segment.fileSize = readLe32(fields + SegmentFileSizeOffset);
            if (readLe32(fields + SegmentTypeOffset) != LoadSegment || segment.fileSize == 0) {
                return true;
            }
            // Bytes the file does not have would otherwise end the load half
            // way, with part of the program already in target memory.
            if (!inFile(segment.fileOffset, segment.fileSize)) {
                return false;
            }
            segments.push_back(segment);
            return true;
        });
}

bool ElfFileJob::readSections(const std::uint8_t* header, std::vector<Section>& sections) {
    const std::uint64_t tableOffset = readLe32(header + SectionTableOffset);
    const std::uint32_t count = readLe16(header + SectionCountOffset);
    // Offset 0 is where a file without a section table says so.
    if (count == 0 || tableOffset == 0) {
        return true;
    }
    return readTable<ElfSectionHeaderSize>(
        tableOffset, readLe16(header + SectionEntrySizeOffset), count, sections,
        [&sections](const std::uint8_t* fields) {
            Section section;
            section.name = readLe32(fields + SectionNameOffset);
            section.type = readLe32(fields + SectionTypeOffset);
            section.offset = readLe32(fields + SectionFileOffset);
            section.size = readLe32(fields + SectionSizeOffset);
            section.link = readLe32(fields + SectionLinkOffset);
            section.entrySize = readLe32(fields + SectionEntrySizeField);
            sections.push_back(section);
            return true;
        });
}

bool ElfFileJob::hasName(const Section& names, std::uint32_t nameOffset, const char* wanted) {
    // The terminator is compared too, so ".reginfo.x" is not ".reginfo".
    char found[16];
    const std::size_t length = std::strlen(wanted) + 1;
    if (length > sizeof found || nameOffset >= names.size || names.size - nameOffset < length) {
        return false;
    }
    return readAt(std::uint64_t{names.offset} + nameOffset, found, length) &&
           std::memcmp(found, wanted, length) == 0;
}

bool ElfFileJob::findGp(const std::vector<Section>& sections, std::uint32_t namesIndex) {
    // The link's gp is in .reginfo; a file linked without one may still
    // define _gp; a file with neither has no gp to give.
    if (namesIndex != 0 && namesIndex < sections.size()) {
        const Section& names = sections[namesIndex];
        if (!inFile(names.offset, names.size)) {
            return false;
        }
        for (const Section& section : sections) {
            if (section.size >= RegisterInfoSize && hasName(names, section.name, RegisterInfoName)) {
                std::uint8_t value[4];
                if (!readAt(std::uint64_t{section.offset} + RegisterInfoGpOffset, value, sizeof value)) {
                    return false;
                }
                gp = readLe32(value);
                return true;
            }
        }
    }
    // A linked file has one symbol table; only the first is read, so that
    // the work stays in proportion to the file however many sections claim
    // to be symbol tables over the same bytes.
    for (const Section& section : sections) {
        if (section.type != SymbolTableType) {
            continue;
        }
        bool found = false;
        std::uint32_t value = 0;
        if (!findSymbol(sections, section, GpSymbolName, found, value)) {
            return false;
        }
        if (found) {
            gp = value;
        }
        return true;
    }
    return true;
}

bool ElfFileJob::findSymbol(const std::vector<Section>& sections, const Section& symbols,
                            const char* wanted, bool& found, std::uint32_t& value) {
    found = false;
    if (symbols.link >= sections.size() || symbols.entrySize < ElfSymbolSize ||
        !inFile(symbols.offset, symbols.size)) {
        return false;
    }
    const Section& names = sections[symbols.link];
    if (!inFile(names.offset, names.size)) {
        return false;
    }
    const std::uint32_t count = symbols.size / symbols.entrySize;
    for (std::uint32_t index = 0; index < count; ++index) {
        std::uint8_t symbol[ElfSymbolSize];
        if (!readAt(std::uint64_t{symbols.offset} + std::uint64_t{index} * symbols.entrySize, symbol,
                    sizeof symbol)) {
            return false;
        }
        // An undefined symbol has no value of its own.
        if (readLe16(symbol + SymbolSectionOffset) == 0) {
            continue;
        }
        if (hasName(names, readLe32(symbol + SymbolNameOffset), wanted)) {
            value = readLe32(symbol + SymbolValueOffset);
            found = true;
            return true;
        }
    }
    return true;
}

bool ElfFileJob::send() {
    // Each segment in an exchange of its own, in table order. Memory beyond
    // a segment's file bytes (its bss) is the program's to clear, as with
    // the other formats.
    for (const ElfSegment& segment : segments) {
        if (!sendExchange(port, segment.fileOffset, segment.physicalAddress, segment.fileSize)) {
            return false;
        }
    }
    return setStartRegisters();
}
