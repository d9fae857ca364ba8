#include <windows.h>

#include <cctype>
#include <string>

#include "serial/line_settings_win32.h"
#include "serial/line_timeouts.h"
#include "serial/port_reader_win32.h"
#include "serial/serial_port.h"

namespace {

HANDLE handleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

bool isOpen(std::intptr_t value) {
    const HANDLE port = handleOf(value);
    return port != INVALID_HANDLE_VALUE && port != nullptr;
}

// With fAbortOnError off, a write on an open port fails only when the device
// has gone (a USB adapter unplugged: ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED,
// ERROR_DEVICE_NOT_CONNECTED, ERROR_GEN_FAILURE ...). Wine reports a write
// that ran out of time, with CTS held low, as a failure too.
bool failedOnDevice(DWORD error) {
    return error != ERROR_OPERATION_ABORTED && error != ERROR_TIMEOUT;
}

// Each thread that writes (the console loop, a transfer's worker) waits on
// an event of its own.
class ThreadEvent {
public:
    ThreadEvent() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~ThreadEvent() {
        if (event_ != nullptr) {
            CloseHandle(event_);
        }
    }
    ThreadEvent(const ThreadEvent&) = delete;
    ThreadEvent& operator=(const ThreadEvent&) = delete;
    HANDLE get() const { return event_; }

private:
    HANDLE event_;
};

HANDLE writeEvent() {
    thread_local ThreadEvent event;
    return event.get();
}

static_assert(sizeof(DCB) == 28, "the line settings assume the 28-byte DCB");

// Windows keeps a COM port to its first opener, Wine does not: a console
// claims the port by a mutex named after the device, so that a second one
// is refused there too instead of splitting the traffic. Null when another
// holds it; a claim that cannot be made (a name too long for one) is left
// to the system.
HANDLE claimPort(const std::string& devicePath) {
    std::string name = "Local\\tolvanis-port-";
    for (const char c : devicePath) {
        // Device names are not case-sensitive, and a backslash ends a namespace.
        name += c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const HANDLE claim = CreateMutexA(nullptr, FALSE, name.c_str());
    if (claim != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return nullptr;
    }
    return claim != nullptr ? claim : INVALID_HANDLE_VALUE;
}

}  // namespace

bool SerialPort::open(const char* portName, std::int32_t baudRate) {
    portLost.store(false);
    // No line runs at such a rate; the driver would take it all the same.
    if (baudRate <= 0) return false;
    const std::string devicePath = systemPortPath(portName);
    const HANDLE claimed = claimPort(devicePath);
    if (claimed == nullptr) return false;
    claim = reinterpret_cast<std::intptr_t>(claimed);
    // No sharing: a port another program holds fails here. Overlapped, so
    // that the reader's read in flight does not hold up writes and RTS pulses.
    const HANDLE port = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    handle = reinterpret_cast<std::intptr_t>(port);
    if (port == INVALID_HANDLE_VALUE) {
        close();
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        close();
        return false;
    }
    serial::applyLineSettings(dcb, baudRate);
    if (!SetCommState(port, &dcb)) {
        close();
        return false;
    }
    COMMTIMEOUTS timeouts = serial::commTimeouts();
    SetCommTimeouts(port, &timeouts);
    reader = std::make_shared<serial::PortReader>(port, portLost);
    if (!reader->started()) {
        close();
        return false;
    }
    return true;
}

void SerialPort::close() {
    // The reader stops before the handle it reads goes.
    reader.reset();
    if (isOpen(handle)) {
        CloseHandle(handleOf(handle));
    }
    handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    if (isOpen(claim)) CloseHandle(handleOf(claim));
    claim = 0;
}

std::int32_t SerialPort::read(void* buffer, std::int32_t count) {
    return reader != nullptr ? reader->read(buffer, count, serial::lineTimeouts.read) : 0;
}

std::int32_t SerialPort::write(const void* buffer, std::int32_t count) {
    if (count <= 0 || !isOpen(handle)) return 0;
    OVERLAPPED io{};
    io.hEvent = writeEvent();
    const HANDLE port = handleOf(handle);
    DWORD written = 0;
    // The driver ends the write by the write time-outs set at open.
    const bool done = io.hEvent != nullptr &&
                      (WriteFile(port, buffer, static_cast<DWORD>(count), nullptr, &io) ||
                       GetLastError() == ERROR_IO_PENDING) &&
                      GetOverlappedResult(port, &io, &written, TRUE);
    if (!done && io.hEvent != nullptr && failedOnDevice(GetLastError())) reportLost();
    return static_cast<std::int32_t>(written);
}

void SerialPort::pulseRts() {
    const HANDLE port = handleOf(handle);
    EscapeCommFunction(port, CLRRTS);
    EscapeCommFunction(port, SETRTS);
}

bool SerialPort::pulseIsLineControl() const { return isOpen(handle); }

std::intptr_t SerialPort::waitHandle() const {
    return reader != nullptr ? reinterpret_cast<std::intptr_t>(reader->readyEvent()) : -1;
}

std::int32_t SerialPort::readWaiting(void* buffer, std::int32_t count) {
    return reader != nullptr ? reader->takeWaiting(buffer, count) : -1;
}
