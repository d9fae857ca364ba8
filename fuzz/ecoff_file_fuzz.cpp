// Any bytes as an ECOFF file: the header and section table reader, the
// choice of sections to send, and a load over the simulated monitor.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/allocation_watch.h"
#include "fuzz/instant_monitor.h"
#include "fuzz/loaded_image.h"
#include "fuzz/require.h"
#include "fuzz/scratch_folder.h"
#include "loader/ecoff_file_job.h"

using fuzzing::require;

namespace {

constexpr std::size_t TableOffset = EcoffFileHeaderSize + EcoffOptionalHeaderSize;

std::uint32_t le(const std::uint8_t* bytes, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

// Sent are .text, .rdata, .data and .sdata, each only with its own flag bit.
bool shouldLoad(const std::uint8_t* entry) {
    struct Wanted {
        const char* name;
        std::uint32_t flag;
    };
    const Wanted wanted[] = {{".text", 0x20}, {".rdata", 0x100}, {".data", 0x40}, {".sdata", 0x200}};
    const std::uint32_t flags = le(entry + 36, 4);
    for (const Wanted& w : wanted) {
        if ((flags & w.flag) != 0 && std::memcmp(entry, w.name, std::strlen(w.name) + 1) == 0) {
            return true;
        }
    }
    return false;
}

bool headerAcceptable(const std::uint8_t* data, std::size_t size) {
    if (size < TableOffset) return false;
    if (le(data + 16, 2) != EcoffOptionalHeaderSize || (le(data + 18, 2) & EcoffExecutableFlag) == 0) {
        return false;
    }
    const std::size_t count = le(data + 2, 2);
    if (size - TableOffset < count * EcoffSectionHeaderSize) return false;
    // Every section to send must lie within the file, or nothing is sent.
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = data + TableOffset + i * EcoffSectionHeaderSize;
        const std::uint64_t position = le(entry + 20, 4);
        const std::uint64_t length = le(entry + 16, 4);
        if (shouldLoad(entry) && length != 0 && position + length > size) return false;
    }
    return true;
}

void checkLoad(EcoffFileJob& job, const std::uint8_t* data) {
    // An opened file's sections all lie within it; what the load sends is
    // what the file holds there. With no section to send, the monitor has
    // printed no prompt since the load began, and the start registers wait
    // for one in vain.
    bool anySent = false;
    fuzzing::LoadedImage image;
    for (std::uint32_t i = 0; i < job.sectionCount; ++i) {
        const std::uint8_t* entry = data + TableOffset + i * EcoffSectionHeaderSize;
        if (!shouldLoad(entry)) continue;
        anySent = true;
        const std::uint64_t position = le(entry + 20, 4);
        const std::uint64_t length = le(entry + 16, 4);
        if (length > 0) image.place(le(entry + 8, 4), data + position, length);
    }
    fuzzing::InstantMonitor line;
    job.port = &line;
    const bool sent = job.send();
    require(sent == anySent, "a load succeeds exactly when it sends sections");
    if (!sent) return;
    require(image.matches(line), "the target holds each loadable section's bytes");
    require(fuzzing::startRegistersAre(line, job.entry, job.gp, job.sp),
            "epc, gp and sp are set from the optional header");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::writeScratchFile("program", data, size);

    EcoffFileJob job;
    const auto [opened, largest, allocations] = fuzzing::openWatched(job, path.c_str());
    require(opened == headerAcceptable(data, size), "only a whole executable header and table open");

    // The table is the only allocation, and the file's own count bounds it.
    const bool countRead = size >= TableOffset && le(data + 16, 2) == EcoffOptionalHeaderSize &&
                           (le(data + 18, 2) & EcoffExecutableFlag) != 0;
    if (!countRead) {
        require(allocations == 0, "a refused header allocates nothing");
    } else {
        const std::size_t tableBytes = std::size_t{le(data + 2, 2)} * EcoffSectionHeaderSize;
        require(allocations <= 1 && largest <= std::max<std::size_t>(tableBytes, 1),
                "the section table is all that is allocated, at its counted size");
    }

    if (opened) {
        require(job.sectionCount == le(data + 2, 2), "the section count is the file's");
        require(job.entry == le(data + EcoffFileHeaderSize + 16, 4) &&
                    job.gp == le(data + EcoffFileHeaderSize + 52, 4) &&
                    job.sp == defaultStackPointer,
                "entry and gp come from the optional header, sp is the default");
        for (std::uint32_t i = 0; i < job.sectionCount; ++i) {
            const std::uint8_t* entry = data + TableOffset + i * EcoffSectionHeaderSize;
            require(std::memcmp(job.sections[i].bytes, entry, EcoffSectionHeaderSize) == 0,
                    "each table entry is kept as the file holds it");
            require(isLoadableSection(job.sections[i]) == shouldLoad(entry),
                    "a section is sent only with a wanted name and its flag");
        }
        checkLoad(job, data);
    }
    if (job.isOpen()) job.close();
    return 0;
}
