// Any bytes as an executable file: the format sniffing, the EXE header
// reader, and a load of the file over the simulated monitor.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/allocation_watch.h"
#include "fuzz/instant_monitor.h"
#include "fuzz/loaded_image.h"
#include "fuzz/require.h"
#include "fuzz/scratch_folder.h"
#include "loader/detect_format.h"
#include "loader/exe_file_job.h"

using fuzzing::require;

namespace {

std::uint32_t le32(const std::uint8_t* bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

int expectedFormat(const std::uint8_t* data, std::size_t size) {
    if (size >= 8 && std::memcmp(data, "QORA EXE", 8) == 0) return ExeFormat;
    if (size >= 2 && data[0] == 0x62 && data[1] == 0x01) return EcoffFormat;
    // 32-bit, little-endian, an executable, for MIPS.
    if (size >= 20 && std::memcmp(data, "\x7f" "ELF", 4) == 0 && data[4] == 1 && data[5] == 1 &&
        data[16] == 2 && data[17] == 0 && data[18] == 8 && data[19] == 0) {
        return ElfFormat;
    }
    return UnknownFormat;
}

void checkLoad(ExeFileJob& job, const std::uint8_t* data) {
    fuzzing::InstantMonitor line;
    job.port = &line;
    // Only a file that holds all the data it announces was opened.
    require(job.send(), "a load of an opened file succeeds");
    fuzzing::LoadedImage image;
    image.place(job.loadAddress, data + ExeDataOffset, job.loadSize);
    require(image.matches(line), "the target holds the file's data at the load address");
    require(fuzzing::startRegistersAre(line, job.entry, job.gp, job.sp),
            "epc, gp and sp are set from the header");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::writeScratchFile("program", data, size);
    require(detectFormat(path.c_str()) == expectedFormat(data, size),
            "the format is judged by the file's first bytes");

    ExeFileJob job;
    bool opened = false;
    {
        fuzzing::AllocationWatch watch;
        opened = job.openFile(path.c_str());
        require(watch.count() == 0, "reading the header allocates nothing");
    }
    // The data starts at 2048; a file must hold all loadSize bytes of it, so
    // that nothing is sent of a file that cannot be sent whole.
    const std::uint32_t loadSize = size >= ExeHeaderReadSize ? le32(data + 0x1C) : 0;
    const bool whole =
        loadSize == 0 || (size >= ExeDataOffset && size - ExeDataOffset >= loadSize);
    require(opened == (size >= ExeHeaderReadSize && whole),
            "a header or data cut short is refused before anything is sent");
    if (opened) {
        require(job.entry == le32(data + 0x10) && job.gp == le32(data + 0x14) &&
                    job.loadAddress == le32(data + 0x18) && job.loadSize == le32(data + 0x1C),
                "the header fields are the file's little-endian words");
        const std::uint32_t stackTop = le32(data + 0x30) + le32(data + 0x34);
        require(job.sp == (stackTop != 0 ? stackTop : defaultStackPointer),
                "sp is the stack's top, or the default without one");
        checkLoad(job, data);
    }
    if (job.isOpen()) job.close();
    return 0;
}
