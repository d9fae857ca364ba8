#include "loader/executable_job.h"

#include <cstdio>

#include "platform/host_file_io.h"

namespace {

constexpr const char* MonitorPrompt = ">>";

}  // namespace

bool ExecutableJob::start(SerialPort* portIn) {
    port = portIn;
    return startSend();
}

bool ExecutableJob::openWithHeader(const char* path, void* header, std::size_t count) {
    handle = platform::openFileForReading(path);
    return isOpen() && readExactly(header, count);
}

bool ExecutableJob::setRegister(const char* name, std::uint32_t value) {
    char command[32];
    std::snprintf(command, sizeof command, "sr %s %08x\r", name, static_cast<unsigned>(value));
    return waitForText(port, MonitorPrompt) && sendEchoed(port, command);
}

bool ExecutableJob::setStartRegisters() {
    // Each command only once the monitor has prompted for it; the first
    // failure ends the sequence with nothing more sent.
    return setRegister("epc", entry) && setRegister("gp", gp) && setRegister("sp", sp) &&
           waitForText(port, MonitorPrompt);
}
