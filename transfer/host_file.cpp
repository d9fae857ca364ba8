#include "transfer/host_file.h"

#include <cstdint>

void HostFile::close() {
    platform::closeFile(handle);
    handle = platform::InvalidFile;
}

bool HostFile::readExactly(void* buffer, std::size_t count) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::int64_t got = platform::readFile(handle, bytes + done, count - done);
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool HostFile::writeExactly(const void* buffer, std::size_t count) {
    return platform::writeFile(handle, buffer, count) == static_cast<std::int64_t>(count);
}

bool HostFile::takeBack(std::size_t count) { return platform::takeBackFile(handle, count); }
