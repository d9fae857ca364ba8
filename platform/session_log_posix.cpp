#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/session_log.h"

namespace platform {

LogFile::~LogFile() { close(); }

bool LogFile::open(const std::string& path, std::string& error) {
    close();
    // O_NONBLOCK: a FIFO without a reader must refuse at once, not hang the
    // start; O_NOCTTY: a terminal named by mistake must not become ours.
    // A FIFO is told apart before the open, which would fail without a
    // reader for a reason that says nothing of it.
    struct stat before {};
    if (::stat(path.c_str(), &before) == 0 && (S_ISFIFO(before.st_mode) || S_ISSOCK(before.st_mode))) {
        error = "not a file to log to (a FIFO or socket)";
        return false;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    const bool statted = ::fstat(fd, &info) == 0;
    const bool usable = statted && (S_ISREG(info.st_mode) || S_ISCHR(info.st_mode)) && !::isatty(fd);
    if (!usable) {
        error = !statted ? std::strerror(errno)
                : S_ISDIR(info.st_mode) ? "it is a folder"
                                         : "not a file to log to (a FIFO, socket or terminal)";
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // Standard input, output or error may have been closed when the program
    // started; the log must not sit in their place and take the screen's text.
    if (fd <= STDERR_FILENO) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(fd);
        if (moved < 0) {
            error = std::strerror(errno);
            return false;
        }
        fd = moved;
    }
    handle_ = fd;
    return true;
}

bool LogFile::append(const char* bytes, std::size_t count, std::string& error) {
    if (handle_ < 0) {
        error = "not open";
        return false;
    }
    while (count > 0) {
        const ssize_t written = ::write(static_cast<int>(handle_), bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            // A write that takes nothing and reports nothing would never end.
            error = written < 0 ? std::strerror(errno) : "nothing written";
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

void LogFile::close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool LogFile::isFile(const std::string& path) const {
    struct stat logged {};
    struct stat other {};
    return handle_ >= 0 && ::fstat(static_cast<int>(handle_), &logged) == 0 &&
           ::stat(path.c_str(), &other) == 0 && logged.st_dev == other.st_dev &&
           logged.st_ino == other.st_ino;
}

std::string localTimestamp() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    // Wide enough for any year the fields can hold.
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03ld ", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long>(now.tv_nsec / 1000000));
    return text;
}

}  // namespace platform
