#include "loader/ecoff_file_job.h"

#include <cstring>
#include <new>

#include "loader/little_endian.h"
#include "platform/host_file_io.h"

namespace {

// File header fields.
constexpr std::size_t SectionCountOffset = 2, OptionalHeaderSizeOffset = 16, FileFlagsOffset = 18;
// Optional header fields.
constexpr std::size_t EntryOffset = 16, GpValueOffset = 52;
// Section header fields: the name, 8 bytes, comes first.
constexpr std::size_t NameSize = 8;
constexpr std::size_t PhysicalAddressOffset = 8, SizeOffset = 16, FilePositionOffset = 20;
constexpr std::size_t FlagsOffset = 36;

bool sameName(const std::uint8_t* sectionName, const char* wanted) {
    // A name that fills all eight bytes has no terminator and so equals none
    // of the wanted names, which are all shorter.
    const void* end = std::memchr(sectionName, 0, NameSize);
    if (end == nullptr) {
        return false;
    }
    return std::strcmp(reinterpret_cast<const char*>(sectionName), wanted) == 0;
}

}  // namespace

std::uint32_t EcoffSectionHeader::physicalAddress() const {
    return readLe32(bytes + PhysicalAddressOffset);
}

std::uint32_t EcoffSectionHeader::size() const { return readLe32(bytes + SizeOffset); }

std::uint32_t EcoffSectionHeader::filePosition() const {
    return readLe32(bytes + FilePositionOffset);
}

std::uint32_t EcoffSectionHeader::flags() const { return readLe32(bytes + FlagsOffset); }

bool isLoadableSection(const EcoffSectionHeader& section) {
    for (const LoadableSection& loadable : loadableSections) {
        if ((loadable.flag & section.flags()) != 0 && sameName(section.name(), loadable.name)) {
            return true;
        }
    }
    return false;
}

bool EcoffFileJob::openFile(const char* path) {
    std::uint8_t fileHeader[EcoffFileHeaderSize];
    if (!openWithHeader(path, fileHeader, sizeof fileHeader)) {
        return false;
    }
    // Only a linked executable with the usual optional header says where it
    // starts and what its gp is.
    if (readLe16(fileHeader + OptionalHeaderSizeOffset) != EcoffOptionalHeaderSize) {
        return false;
    }
    if ((readLe16(fileHeader + FileFlagsOffset) & EcoffExecutableFlag) == 0) {
        return false;
    }
    std::uint8_t optionalHeader[EcoffOptionalHeaderSize];
    if (!readExactly(optionalHeader, sizeof optionalHeader)) {
        return false;
    }
    gp = readLe32(optionalHeader + GpValueOffset);
    entry = readLe32(optionalHeader + EntryOffset);
    sp = defaultStackPointer;

    sectionCount = readLe16(fileHeader + SectionCountOffset);
    sections.reset(new (std::nothrow) EcoffSectionHeader[sectionCount]);
    if (sections == nullptr) {
        return false;
    }
    // A record cut short by the end of the file counts as unreadable.
    return readExactly(sections.get(),
                       static_cast<std::size_t>(sectionCount) * EcoffSectionHeaderSize) &&
           loadableSectionsInFile();
}

bool EcoffFileJob::loadableSectionsInFile() const {
    std::uint64_t size = 0;
    if (!platform::fileSize(handle, size)) {
        return false;
    }
    for (std::uint32_t index = 0; index < sectionCount; ++index) {
        const EcoffSectionHeader& section = sections[index];
        if (isLoadableSection(section) && section.size() != 0 &&
            !rangeInFile(section.filePosition(), section.size(), size)) {
            return false;
        }
    }
    return true;
}

bool EcoffFileJob::send() {
    // Each section in an exchange of its own, in table order; the next one
    // opens as soon as the last has closed.
    for (std::uint32_t index = 0; index < sectionCount; ++index) {
        const EcoffSectionHeader& section = sections[index];
        if (isLoadableSection(section) &&
            !sendExchange(port, section.filePosition(), section.physicalAddress(), section.size())) {
            return false;
        }
    }
    return setStartRegisters();
}
