// dload and dsave: raw bytes between a host file and target memory.
#include <new>

#include "console/console.h"
#include "transfer/data_file_job.h"

namespace {

// dload's window of target addresses, both ends included.
constexpr std::uint32_t LowestLoadAddress = 0x08000000;
constexpr std::uint32_t HighestLoadAddress = 0x801FFFFF;

}  // namespace

bool Console::dload(const char* path, std::uint32_t address, SerialPort* portIn) {
    starsShown = 0;
    auto* job = new (std::nothrow) DataFileJob;
    const char* failure = nullptr;
    if (job == nullptr || !job->openFile(path)) {
        failure = "cannot open file\n";
    } else if (address < LowestLoadAddress || address > HighestLoadAddress) {
        failure = "invalid address\n";
    } else if (!job->sendFile(portIn, address)) {
        failure = "cannot send file\n";
    }
    if (failure == nullptr) return foregroundWait(job);

    print(failure);
    state = Typing;
    sendChar(keys::Enter);
    discardJob(job);
    return false;
}

bool Console::dsave(const char* path, std::uint32_t address, std::uint32_t length,
                    SerialPort* portIn) {
    starsShown = 0;
    auto* job = new (std::nothrow) DataFileJob;
    const char* failure = nullptr;
    if (job == nullptr || !job->openForWrite(path)) {
        failure = "cannot open file\n";
    } else if (!job->receiveFile(portIn, address, length)) {
        failure = "cannot receive file";  // the monitor's answer follows on this line
    }
    if (failure == nullptr) return foregroundWait(job);

    print(failure);
    sendChar(keys::Enter);
    state = Typing;
    discardJob(job);
    return false;
}
