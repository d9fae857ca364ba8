#pragma once

#include <cstddef>
#include <cstdint>

// Host files as the transfer jobs and scripts use them: one handle, plain
// blocking calls, results as counts or booleans.
namespace platform {

using FileHandle = std::intptr_t;
inline constexpr FileHandle InvalidFile = -1;

// An existing file, for reading; others may read it meanwhile.
FileHandle openFileForReading(const char* path);
// Created, or emptied when it exists, for writing.
FileHandle createFileForWriting(const char* path);
bool fileSize(FileHandle file, std::uint64_t& size);
bool seekFile(FileHandle file, std::uint64_t offset);
// Bytes delivered (0 at end of file), or -1 when the read failed.
std::int64_t readFile(FileHandle file, void* buffer, std::size_t count);
// Bytes written, or -1 when the write failed.
std::int64_t writeFile(FileHandle file, const void* buffer, std::size_t count);
// Cuts off the count bytes before the file's position, which the last write
// put at its end, and moves the position back over them.
bool takeBackFile(FileHandle file, std::uint64_t count);
void closeFile(FileHandle file);

// The one file no host file may be: the session log, given as a handle open
// on it (InvalidFile: none). Opening it under any name or link then fails as
// a file that cannot be opened, before anything of it is read or cut.
void keepFromHostFiles(FileHandle file);
// Whether path names that file.
bool isKeptFromHostFiles(const char* path);

}  // namespace platform
