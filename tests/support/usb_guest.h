#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/support/e2e_temp_folder.h"

namespace e2e {

// One control request the emulated FTDI adapter got, as QEMU's trace shows
// it; for a flow control request (0x4002) the value is the kind QEMU took
// from it (1: RTS/CTS), since the request carries it in its index.
struct AdapterControl {
    unsigned request;
    unsigned value;
};

// A Linux guest (tools/usb-guest.sh) whose /dev/ttyUSB0 is QEMU's emulated
// FTDI adapter under the real ftdi_sio driver, the adapter's far end joined
// to a terminal on this side (a simulator's or the Malta board's). The guest
// runs a shell script of the test's, with files beside it in /test, prints on
// its console (QEMU's standard output) and powers off. QEMU is killed and
// reaped when the object goes, on every path.
class UsbGuest {
public:
    UsbGuest() = default;
    ~UsbGuest();
    UsbGuest(const UsbGuest&) = delete;
    UsbGuest& operator=(const UsbGuest&) = delete;

    // Why the guest cannot run here (QEMU, cpio or the fetched packages
    // missing); empty when it can.
    static std::string missing();
    // Puts the calling thread, and the threads it starts, ahead of the
    // host's other work as QEMU is (root only; false elsewhere), or back.
    static bool aheadOfTheHost(bool ahead);

    // Files the script finds beside it in /test, by name.
    void addFile(const std::string& name, const std::string& bytes) { files_[name] = bytes; }
    // Boots the guest with `script` as /test/run, the adapter joined to
    // `adapterPort`; waits (bounded) until the guest has its ttyUSB0.
    bool start(const std::string& adapterPort, const std::string& script);

    // Waits until the console shows `text` after `from`; false after `limit`.
    bool waitFor(const std::string& text, std::chrono::milliseconds limit, std::size_t from = 0);
    // Waits for the script's end and QEMU's; the script's exit status, or -1.
    int finish(std::chrono::milliseconds limit);
    const std::string& console() const { return console_; }
    // What the console showed after the kernel's boot, for messages.
    std::string scriptOutput() const;
    const std::string& error() const { return error_; }

    // A command to QEMU's monitor (device_del adapter, device_add ...); its answer.
    std::string monitor(const std::string& command);
    // The adapter gone from the guest's bus, and a new one on the same line.
    bool unplug();
    bool plugIn();
    // Every control request the adapter got so far.
    std::vector<AdapterControl> controls() const;

private:
    bool pump(std::chrono::milliseconds wait);
    void stopQemu();

    TempFolder folder_;
    std::map<std::string, std::string> files_;
    pid_t pid_ = -1;
    int output_ = -1;
    int plugs_ = 0;
    std::string console_;
    std::string error_;
};

// A batch run of the console in the guest as a script line: the port is the
// adapter, the script a file the test added; prints "NAME status N" after it.
std::string guestBatch(const std::string& name, const std::string& script, const std::string& options = "");
// The status a guestBatch line printed, or -1.
int batchStatus(const std::string& console, const std::string& name);

}  // namespace e2e
