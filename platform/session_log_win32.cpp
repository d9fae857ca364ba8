#include <windows.h>

#include <cctype>
#include <cstdio>

#include "platform/session_log.h"
#include "platform/wide_path_win32.h"

namespace platform {

namespace {

HANDLE handleOf(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

std::string systemError(DWORD code) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' ')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

// CON, NUL, COM1 ...: in any folder, with any extension, the device.
bool isDeviceName(const std::string& path) {
    const std::size_t start = path.find_last_of("\\/:");
    std::string base = path.substr(start == std::string::npos ? 0 : start + 1);
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$") {
        return true;
    }
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace

LogFile::~LogFile() { close(); }

bool LogFile::open(const std::string& path, std::string& error) {
    close();
    // Appending only, shared so that a viewer may read it meanwhile.
    const HANDLE file = CreateFileW(widePath(path.c_str()).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // Some devices (CON) refuse being opened so; they are no file either.
        error = isDeviceName(path) ? "not a file to log to" : systemError(GetLastError());
        return false;
    }
    // A COM port or a pipe is no place for a log; NUL is a character device.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        error = "not a file to log to";
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool LogFile::append(const char* bytes, std::size_t count, std::string& error) {
    if (handle_ == -1) {
        error = "not open";
        return false;
    }
    while (count > 0) {
        DWORD written = 0;
        const DWORD asked = count > 0x10000 ? 0x10000 : static_cast<DWORD>(count);
        if (!WriteFile(handleOf(handle_), bytes, asked, &written, nullptr) || written == 0) {
            error = systemError(GetLastError());
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

void LogFile::close() {
    if (handle_ != -1) CloseHandle(handleOf(handle_));
    handle_ = -1;
}

bool LogFile::isFile(const std::string& path) const {
    if (handle_ == -1) return false;
    const HANDLE other = CreateFileW(widePath(path.c_str()).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION logged{};
    BY_HANDLE_FILE_INFORMATION named{};
    const bool same = GetFileInformationByHandle(handleOf(handle_), &logged) &&
                      GetFileInformationByHandle(other, &named) &&
                      logged.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
                      logged.nFileIndexHigh == named.nFileIndexHigh &&
                      logged.nFileIndexLow == named.nFileIndexLow;
    CloseHandle(other);
    return same;
}

std::string localTimestamp() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    char text[96];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", local.wYear, local.wMonth,
                  local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
    return text;
}

}  // namespace platform
