#include "loader/detect_format.h"

#include <cstdint>
#include <cstring>

#include "loader/elf_file_job.h"
#include "platform/host_file_io.h"

namespace {

constexpr char ExeMagic[8] = {'Q', 'O', 'R', 'A', ' ', 'E', 'X', 'E'};

}  // namespace

int detectFormat(const char* path) {
    const platform::FileHandle file = platform::openFileForReading(path);
    if (file == platform::InvalidFile) {
        return MissingFile;
    }
    // Enough for the longest identification, the ELF one.
    std::uint8_t head[20] = {};
    std::size_t got = 0;
    while (got < sizeof head) {
        const std::int64_t read = platform::readFile(file, head + got, sizeof head - got);
        if (read <= 0) {
            break;
        }
        got += static_cast<std::size_t>(read);
    }
    platform::closeFile(file);

    // A short file is judged by the bytes it has; nothing beyond them counts.
    if (got >= sizeof ExeMagic && std::memcmp(head, ExeMagic, sizeof ExeMagic) == 0) {
        return ExeFormat;
    }
    if (got >= 2 && head[0] == 0x62 && head[1] == 0x01) {
        return EcoffFormat;
    }
    if (isMipsElfExecutable(head, got)) {
        return ElfFormat;
    }
    return UnknownFormat;
}
