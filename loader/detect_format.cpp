#include "loader/detect_format.h"

#include <cstdint>
#include <cstring>

#include "platform/host_file_io.h"

namespace {

constexpr char ExeMagic[8] = {'Q', 'O', 'R', 'A', ' ', 'E', 'X', 'E'};

}  // namespace

int detectFormat(const char* path) {
    const platform::FileHandle file = platform::openFileForReading(path);
    if (file == platform::InvalidFile) {
        return MissingFile;
    }
    std::uint8_t head[sizeof ExeMagic] = {};
    const std::int64_t got = platform::readFile(file, head, sizeof head);
    platform::closeFile(file);

    // A short file is judged by the bytes it has; nothing beyond them counts.
    if (got == static_cast<std::int64_t>(sizeof head) &&
        std::memcmp(head, ExeMagic, sizeof ExeMagic) == 0) {
        return ExeFormat;
    }
    if (got >= 2 && head[0] == 0x62 && head[1] == 0x01) {
        return EcoffFormat;
    }
    return UnknownFormat;
}
