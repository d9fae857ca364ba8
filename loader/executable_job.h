#pragma once

#include <cstddef>
#include <cstdint>

#include "transfer/transfer_job.h"

class SerialPort;

// True when count bytes from offset lie within a file of size bytes. The
// formats check every range they will send before the first byte goes out,
// so that a cut file is refused rather than half loaded.
inline bool rangeInFile(std::uint64_t offset, std::uint64_t count, std::uint64_t size) {
    return offset <= size && count <= size - offset;
}

// Stack pointer for executables that name none.
inline constexpr std::uint32_t defaultStackPointer = 0x801ffff0;

// A job that puts a program into target memory and then sets the target's
// start registers through the monitor. The concrete job reads the file's
// header in openFile and fills gp, entry and sp there.
class ExecutableJob : public TransferJob {
public:
    // Keeps the port for the worker and starts it on send().
    bool start(SerialPort* portIn);
    // Opens the file and reads its first count bytes; false when either
    // fails, a file too short for its header included.
    bool openWithHeader(const char* path, void* header, std::size_t count);
    // Worker thread, last step of send(): epc, gp and sp, each after a prompt.
    bool setStartRegisters();

    SerialPort* port = nullptr;
    std::uint32_t gp = 0;
    std::uint32_t entry = 0;
    std::uint32_t sp = 0;

private:
    bool setRegister(const char* name, std::uint32_t value);
};
