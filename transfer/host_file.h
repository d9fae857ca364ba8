#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/host_file_io.h"

// One open host file. The owner closes it with close() before deleting the
// object; the destructor does not.
class HostFile {
public:
    HostFile() = default;
    virtual ~HostFile() = default;
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;

    void close();
    bool isOpen() const { return handle != platform::InvalidFile; }
    // Reads exactly count bytes, going on after short reads; false at an
    // early end of the file or a failed read.
    bool readExactly(void* buffer, std::size_t count);
    bool writeExactly(const void* buffer, std::size_t count);

    platform::FileHandle handle = platform::InvalidFile;
};
