#pragma once

// What /proc tells about a process: memory, CPU time, open descriptors and
// threads. "self" or a process id.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace faults {

inline std::string procPath(const std::string& process, const char* entry) {
    return "/proc/" + process + "/" + entry;
}

// A "Name:   123 kB" line of /proc/PID/status, in KiB; -1 when missing.
inline long statusKiB(const std::string& process, const std::string& field) {
    std::ifstream in(procPath(process, "status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
    return -1;
}

// User plus system time, in milliseconds; -1 when it cannot be read.
inline long cpuMilliseconds(const std::string& process) {
    std::ifstream in(procPath(process, "stat"));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold blanks and parentheses: fields count from
    // the last ')'. utime and stime are fields 14 and 15.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = -1;
    long stime = -1;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) utime = std::strtol(field.c_str(), nullptr, 10);
        if (number == 15) stime = std::strtol(field.c_str(), nullptr, 10);
    }
    if (utime < 0 || stime < 0) return -1;
    return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

inline long entriesIn(const std::string& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) return -1;
    return long(std::distance(entries, std::filesystem::directory_iterator()));
}

inline long openDescriptors(const std::string& process = "self") { return entriesIn(procPath(process, "fd")); }
inline long threadCount(const std::string& process = "self") { return entriesIn(procPath(process, "task")); }

}  // namespace faults
