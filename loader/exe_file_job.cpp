#include "loader/exe_file_job.h"

#include "loader/little_endian.h"
#include "platform/host_file_io.h"

namespace {

// Header fields, offsets from the start of the file: the start registers,
// where the data goes and how much of it there is, and the stack.
constexpr std::size_t InitialPcOffset = 0x10, InitialGpOffset = 0x14;
constexpr std::size_t LoadAddressOffset = 0x18, LoadSizeOffset = 0x1C;
constexpr std::size_t StackBaseOffset = 0x30, StackSizeOffset = 0x34;

}  // namespace

bool ExeFileJob::openFile(const char* path) {
    std::uint8_t header[ExeHeaderReadSize];
    // A header cut short by the end of the file is refused: its missing
    // fields would be guesses.
    if (!openWithHeader(path, header, sizeof header)) {
        return false;
    }
    entry = readLe32(header + InitialPcOffset);
    gp = readLe32(header + InitialGpOffset);
    loadAddress = readLe32(header + LoadAddressOffset);
    loadSize = readLe32(header + LoadSizeOffset);
    const std::uint32_t stackTop =
        readLe32(header + StackBaseOffset) + readLe32(header + StackSizeOffset);
    sp = stackTop != 0 ? stackTop : defaultStackPointer;
    // Data the file does not hold would end the load half way, with part
    // of the program already in target memory.
    std::uint64_t size = 0;
    return loadSize == 0 ||
           (platform::fileSize(handle, size) && rangeInFile(ExeDataOffset, loadSize, size));
}

bool ExeFileJob::send() {
    return sendExchange(port, ExeDataOffset, loadAddress, loadSize) && setStartRegisters();
}
