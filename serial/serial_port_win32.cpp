#include <windows.h>

#include "serial/line_settings_win32.h"
#include "serial/serial_port.h"

namespace {

HANDLE handleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// With fAbortOnError off, a read or write on an open port fails only when
// the device has gone (a USB adapter unplugged: ERROR_BAD_COMMAND,
// ERROR_ACCESS_DENIED, ERROR_DEVICE_NOT_CONNECTED, ERROR_GEN_FAILURE ...).
// A handle that was never opened is not a lost port.
bool failedOnDevice(std::intptr_t value) {
    const HANDLE port = handleOf(value);
    return port != INVALID_HANDLE_VALUE && port != nullptr &&
           GetLastError() != ERROR_OPERATION_ABORTED;
}

// A removed device may also answer a read with nothing, like a silent line;
// its status can no longer be read then. (Clearing the line's error flags
// on the way changes nothing: they never abort a read or write here.)
bool deviceAnswers(std::intptr_t value) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(handleOf(value), &errors, &status) != 0;
}

static_assert(sizeof(DCB) == 28, "the line settings assume the 28-byte DCB");

}  // namespace

bool SerialPort::open(const char* portName, std::int32_t baudRate) {
    // Plain synchronous access, and no sharing: a port another program holds
    // fails here.
    portLost.store(false);
    const HANDLE port = CreateFileA(systemPortPath(portName).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    handle = reinterpret_cast<std::intptr_t>(port);
    if (port == INVALID_HANDLE_VALUE) {
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
    return true;
}

void SerialPort::close() {
    const HANDLE port = handleOf(handle);
    if (port != INVALID_HANDLE_VALUE && port != nullptr) {
        CloseHandle(port);
    }
    handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

std::int32_t SerialPort::read(void* buffer, std::int32_t count) {
    DWORD got = 0;
    if (count <= 0) return 0;
    if (!ReadFile(handleOf(handle), buffer, static_cast<DWORD>(count), &got, nullptr)) {
        if (failedOnDevice(handle)) reportLost();
        return 0;
    }
    if (got == 0 && !deviceAnswers(handle)) reportLost();
    return static_cast<std::int32_t>(got);
}

std::int32_t SerialPort::write(const void* buffer, std::int32_t count) {
    DWORD written = 0;
    if (count <= 0) return 0;
    if (!WriteFile(handleOf(handle), buffer, static_cast<DWORD>(count), &written, nullptr)) {
        if (failedOnDevice(handle)) reportLost();
        return 0;
    }
    return static_cast<std::int32_t>(written);
}

void SerialPort::pulseRts() {
    EscapeCommFunction(handleOf(handle), CLRRTS);
    EscapeCommFunction(handleOf(handle), SETRTS);
}

std::intptr_t SerialPort::waitHandle() const {
    // The port is opened for plain synchronous reads: its read is the wait.
    return -1;
}

std::int32_t SerialPort::readWaiting(void* buffer, std::int32_t count) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handleOf(handle), &errors, &status)) {
        if (failedOnDevice(handle)) reportLost();
        return -1;
    }
    const DWORD waiting = status.cbInQue < static_cast<DWORD>(count) ? status.cbInQue
                                                                     : static_cast<DWORD>(count);
    if (count <= 0 || waiting == 0) {
        return 0;
    }
    DWORD got = 0;
    if (!ReadFile(handleOf(handle), buffer, waiting, &got, nullptr)) {
        return -1;
    }
    return static_cast<std::int32_t>(got);
}
