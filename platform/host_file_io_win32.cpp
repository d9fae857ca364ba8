#include "platform/host_file_io.h"

#include <windows.h>

#include <algorithm>
#include <limits>

#include "platform/wide_path_win32.h"

namespace platform {

namespace {

HANDLE handleOf(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle fileOf(HANDLE handle) {
    return reinterpret_cast<FileHandle>(handle);
}

// One ReadFile or WriteFile moves at most this much; callers go on after a
// short count.
constexpr std::size_t LargestTransfer = 1u << 30;

static_assert(InvalidFile == static_cast<FileHandle>(-1), "INVALID_HANDLE_VALUE is -1");

// The file that keepFromHostFiles names: its volume and index.
bool reserved = false;
BY_HANDLE_FILE_INFORMATION reservedFile{};

bool isReserved(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    return reserved && GetFileInformationByHandle(handle, &information) &&
           information.dwVolumeSerialNumber == reservedFile.dwVolumeSerialNumber &&
           information.nFileIndexHigh == reservedFile.nFileIndexHigh &&
           information.nFileIndexLow == reservedFile.nFileIndexLow;
}

// Host files are files on a disk: a device name (CON, COM1, NUL) or a pipe
// would read or write something else entirely, or wait for a peer.
FileHandle diskFileOnly(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return InvalidFile;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK || isReserved(handle)) {
        CloseHandle(handle);
        return InvalidFile;
    }
    return fileOf(handle);
}

}  // namespace

void keepFromHostFiles(FileHandle file) {
    reserved = file != InvalidFile && GetFileInformationByHandle(handleOf(file), &reservedFile);
}

bool isKeptFromHostFiles(const char* path) {
    const HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool kept = isReserved(handle);
    CloseHandle(handle);
    return kept;
}

FileHandle openFileForReading(const char* path) {
    // Others may read the file meanwhile, not write it.
    return diskFileOnly(CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// OPEN_ALWAYS and then cutting it, so that a name that turns out to be a
// device or a pipe is left as it was.
FileHandle createFileForWriting(const char* path) {
    const HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const FileHandle file = diskFileOnly(handle);
    if (file != InvalidFile && !SetEndOfFile(handle)) {
        CloseHandle(handle);
        return InvalidFile;
    }
    return file;
}

bool fileSize(FileHandle file, std::uint64_t& size) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handleOf(file), &information)) {
        return false;
    }
    size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) |
           information.nFileSizeLow;
    return true;
}

bool seekFile(FileHandle file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) {
        return false;
    }
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(handleOf(file), static_cast<LONG>(offset & 0xFFFFFFFFu),
                                     &high, FILE_BEGIN);
    // The low part may be all ones legitimately; only the error code tells.
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

bool takeBackFile(FileHandle file, std::uint64_t count) {
    if (count > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) {
        return false;
    }
    LARGE_INTEGER back;
    back.QuadPart = -static_cast<LONGLONG>(count);
    return SetFilePointerEx(handleOf(file), back, nullptr, FILE_CURRENT) &&
           SetEndOfFile(handleOf(file));
}

std::int64_t readFile(FileHandle file, void* buffer, std::size_t count) {
    DWORD got = 0;
    const auto asked = static_cast<DWORD>(std::min(count, LargestTransfer));
    if (!ReadFile(handleOf(file), buffer, asked, &got, nullptr)) {
        return -1;
    }
    return got;
}

std::int64_t writeFile(FileHandle file, const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        DWORD written = 0;
        const auto asked = static_cast<DWORD>(std::min(count - done, LargestTransfer));
        if (!WriteFile(handleOf(file), bytes + done, asked, &written, nullptr) || written == 0) {
            return -1;
        }
        done += written;
    }
    return static_cast<std::int64_t>(done);
}

void closeFile(FileHandle file) {
    if (file != InvalidFile) {
        CloseHandle(handleOf(file));
    }
}

}  // namespace platform
