#include "platform/host_file_io.h"
#include "platform/terminal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace platform {

namespace {

int descriptor(FileHandle file) {
    return static_cast<int>(file);
}

// A retry after a signal, unless the signal asked the program to end.
bool retryAfter(long result) {
    return result < 0 && errno == EINTR && !terminationRequested();
}

// The file that keepFromHostFiles names: its device and inode.
bool reserved = false;
dev_t reservedDevice = 0;
ino_t reservedInode = 0;

bool isReserved(const struct stat& status) {
    return reserved && status.st_dev == reservedDevice && status.st_ino == reservedInode;
}

FileHandle openRegularFile(const char* path, int access, bool truncate) {
    int fd;
    do {
        fd = ::open(path, access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    } while (retryAfter(fd));
    if (fd < 0) {
        return InvalidFile;
    }
    struct stat status {};
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || isReserved(status) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || (truncate && ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return InvalidFile;
    }
    return fd;
}

}  // namespace

void keepFromHostFiles(FileHandle file) {
    struct stat status {};
    reserved = file != InvalidFile && fstat(descriptor(file), &status) == 0;
    reservedDevice = status.st_dev;
    reservedInode = status.st_ino;
}

bool isKeptFromHostFiles(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && isReserved(status);
}

// Host files are regular files only. They are opened without waiting (a
// FIFO or a device would otherwise hold the console in open() for good) and
// looked at before anything is read or cut; then they block as usual.
FileHandle openFileForReading(const char* path) {
    return openRegularFile(path, O_RDONLY, false);
}

// Created, or cut to nothing, only once it is known to be a regular file.
FileHandle createFileForWriting(const char* path) {
    return openRegularFile(path, O_WRONLY | O_CREAT, true);
}

bool fileSize(FileHandle file, std::uint64_t& size) {
    struct stat status {};
    if (fstat(descriptor(file), &status) != 0 || status.st_size < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool seekFile(FileHandle file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return false;
    }
    return lseek(descriptor(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool takeBackFile(FileHandle file, std::uint64_t count) {
    if (count > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return false;
    }
    const off_t at = lseek(descriptor(file), -static_cast<off_t>(count), SEEK_CUR);
    return at >= 0 && ftruncate(descriptor(file), at) == 0;
}

std::int64_t readFile(FileHandle file, void* buffer, std::size_t count) {
    ssize_t got;
    do {
        got = ::read(descriptor(file), buffer, count);
    } while (retryAfter(got));
    return got;
}

std::int64_t writeFile(FileHandle file, const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t written = ::write(descriptor(file), bytes + done, count - done);
        if (retryAfter(written)) {
            continue;
        }
        if (written <= 0) {
            return -1;
        }
        done += static_cast<std::size_t>(written);
    }
    return static_cast<std::int64_t>(done);
}

void closeFile(FileHandle file) {
    if (file != InvalidFile) {
        ::close(descriptor(file));
    }
}

}  // namespace platform
