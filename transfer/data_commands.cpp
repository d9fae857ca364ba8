// dload and dsave: raw bytes between a host file and target memory.
#include "transfer/data_commands.h"

#include <new>
#include <utility>

#include "console/console.h"
#include "transfer/data_file_job.h"
#include "transfer/foreground_wait.h"

namespace {

// dload's window of target addresses, both ends included.
constexpr std::uint32_t LowestLoadAddress = 0x08000000;
constexpr std::uint32_t HighestLoadAddress = 0x801FFFFF;

}  // namespace

bool dload(Console& console, const char* path, std::uint32_t address, SerialPort* port) {
    console.starsShown = 0;
    Owned<DataFileJob> job(new (std::nothrow) DataFileJob);
    if (job == nullptr || !job->openFile(path)) return console.refuse("cannot open file\n");
    if (address < LowestLoadAddress || address > HighestLoadAddress) {
        return console.refuse("invalid address\n");
    }
    if (!job->sendFile(port, address)) return console.refuse("cannot send file\n");
    return foregroundWait(console, std::move(job));
}

bool dsave(Console& console, const char* path, std::uint32_t address, std::uint32_t length,
           SerialPort* port, PulseMode pulses) {
    console.starsShown = 0;
    Owned<DataFileJob> job(new (std::nothrow) DataFileJob);
    if (job == nullptr || !job->openForWrite(path)) return console.refuse("cannot open file\n");
    job->pulseMode = pulses;
    // The monitor's answer follows on this line.
    if (!job->receiveFile(port, address, length)) return console.refuse("cannot receive file");
    return foregroundWait(console, std::move(job));
}
