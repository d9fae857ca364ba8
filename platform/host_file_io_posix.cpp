#include "platform/host_file_io.h"

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

}  // namespace

FileHandle openFileForReading(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return InvalidFile;
    }
    // A folder opens for reading here, but is not a file anyone meant.
    struct stat status {};
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        ::close(fd);
        return InvalidFile;
    }
    return fd;
}

FileHandle createFileForWriting(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? InvalidFile : fd;
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

std::int64_t readFile(FileHandle file, void* buffer, std::size_t count) {
    ssize_t got;
    do {
        got = ::read(descriptor(file), buffer, count);
    } while (got < 0 && errno == EINTR);
    return got;
}

std::int64_t writeFile(FileHandle file, const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t written = ::write(descriptor(file), bytes + done, count - done);
        if (written < 0 && errno == EINTR) {
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
