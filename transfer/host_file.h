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

    platform::FileHandle handle = platform::InvalidFile;
};
