#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

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
    // Takes the last count bytes written back off the end of the file.
    bool takeBack(std::size_t count);

    platform::FileHandle handle = platform::InvalidFile;
};

// Closes the file when it was opened, then deletes the object: the one way
// an owner lets go of a job or a script, whichever way out it takes.
struct CloseThenDelete {
    void operator()(HostFile* file) const {
        if (file->isOpen()) file->close();
        delete file;
    }
};

// A host file held by its one owner.
template <typename File>
using Owned = std::unique_ptr<File, CloseThenDelete>;
