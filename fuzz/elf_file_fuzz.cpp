// Any bytes as an ELF file: the header, program and section table reader,
// the choice of segments to send, and a load over the simulated monitor.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/allocation_watch.h"
#include "fuzz/instant_monitor.h"
#include "fuzz/loaded_image.h"
#include "fuzz/require.h"
#include "fuzz/scratch_folder.h"
#include "loader/elf_file_job.h"

using fuzzing::require;

namespace {

std::uint32_t le(const std::uint8_t* bytes, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

bool identifies(const std::uint8_t* data, std::size_t size) {
    return size >= ElfHeaderSize && std::memcmp(data, "\x7f" "ELF", 4) == 0 && data[4] == 1 &&
           data[5] == 1 && le(data + 16, 2) == 2 && le(data + 18, 2) == 8;
}

struct Expected {
    bool tableUsable = true;
    std::vector<ElfSegment> segments;
};

// The loadable segments as the program header table gives them, and
// whether the table and every one of them lie within the file.
Expected segmentsOf(const std::uint8_t* data, std::size_t size) {
    Expected expected;
    const std::uint64_t offset = le(data + 28, 4);
    const std::uint64_t entrySize = le(data + 42, 2);
    const std::uint64_t count = le(data + 44, 2);
    if (count == 0) return expected;
    if (entrySize < ElfProgramHeaderSize || offset + count * entrySize > size) {
        expected.tableUsable = false;
        return expected;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = data + offset + i * entrySize;
        const ElfSegment segment{le(entry + 4, 4), le(entry + 12, 4), le(entry + 16, 4)};
        if (le(entry, 4) != 1 || segment.fileSize == 0) continue;
        if (std::uint64_t{segment.fileOffset} + segment.fileSize > size) {
            expected.tableUsable = false;
            return expected;
        }
        expected.segments.push_back(segment);
    }
    return expected;
}

bool sameSegments(const std::vector<ElfSegment>& a, const std::vector<ElfSegment>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ElfSegment& x, const ElfSegment& y) {
        return x.fileOffset == y.fileOffset && x.physicalAddress == y.physicalAddress &&
               x.fileSize == y.fileSize;
    });
}

// gp is read from the file, so a non-zero gp is four bytes the file holds.
bool gpFromFile(std::uint32_t gp, const std::uint8_t* data, std::size_t size) {
    if (gp == 0) return true;
    for (std::size_t at = 0; at + 4 <= size; ++at) {
        if (le(data + at, 4) == gp) return true;
    }
    return false;
}

void checkLoad(ElfFileJob& job, const std::uint8_t* data) {
    // With no segment to send the monitor printed no prompt since the load
    // began, and the start registers wait for one in vain.
    fuzzing::LoadedImage image;
    for (const ElfSegment& segment : job.segments) {
        image.place(segment.physicalAddress, data + segment.fileOffset, segment.fileSize);
    }
    fuzzing::InstantMonitor line;
    job.port = &line;
    const bool sent = job.send();
    require(sent == !job.segments.empty(), "a load succeeds exactly when it has segments to send");
    if (!sent) return;
    require(image.matches(line), "the target holds each segment's file bytes");
    require(fuzzing::startRegistersAre(line, job.entry, job.gp, job.sp),
            "epc, gp and sp are set from the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Segments of megabytes would only slow the search down.
    if (size > 64 * 1024) return 0;
    const std::string path = fuzzing::writeScratchFile("program", data, size);

    ElfFileJob job;
    const auto [opened, largest, allocations] = fuzzing::openWatched(job, path.c_str());
    if (!identifies(data, size)) {
        require(!opened, "only a 32-bit little-endian MIPS executable opens");
        require(allocations == 0, "a refused header allocates nothing");
    } else {
        // The two tables are all that is allocated, and the file bounds both.
        require(allocations <= 2 && largest <= std::max<std::size_t>(size, 1),
                "what opening allocates is bounded by the file's size");
        const Expected expected = segmentsOf(data, size);
        if (!expected.tableUsable) {
            require(!opened, "a table or segment outside the file is refused");
        }
        if (opened) {
            require(sameSegments(expected.segments, job.segments),
                    "the segments sent are the loadable ones with file bytes, in table order");
            require(job.entry == le(data + 24, 4) && job.sp == defaultStackPointer,
                    "entry comes from the header, sp is the default");
            require(gpFromFile(job.gp, data, size), "gp is a value the file holds");
            checkLoad(job, data);
        }
    }
    if (job.isOpen()) job.close();
    return 0;
}
