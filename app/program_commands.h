#pragma once

#include <cstdint>

#include "console/host_commands.h"
#include "script/script_runner.h"
#include "transfer/rts_pulses.h"

class Console;

// The program's table of host commands: the transfers, the loader and the
// script runner. Made with the console, it hands itself to it.
class ProgramCommands final : public HostCommands {
public:
    // pulses: how a dsave pulses RTS after each byte it reads.
    explicit ProgramCommands(Console& console, PulseMode pulses = PulseMode::Overlapped);

    bool load(const char* path, SerialPort* port) override;
    bool dload(const char* path, std::uint32_t address, SerialPort* port) override;
    bool dsave(const char* path, std::uint32_t address, std::uint32_t length,
               SerialPort* port) override;
    bool startScript(const char* path, std::int32_t depth, SerialPort* port) override;
    void promptArrived() override;
    void stopScripts() override;
    bool scriptRunning() const override { return scripts_.scriptRunning(); }
    bool scriptFailed() const override { return scripts_.failed(); }

    const ScriptRunner& scripts() const { return scripts_; }

private:
    Console& console_;
    PulseMode pulses_;
    ScriptRunner scripts_;
};
