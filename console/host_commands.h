#pragma once

#include <cstdint>

class SerialPort;

// The host-side commands that keys, argument lines and the monitor prompt
// reach. Declared here so the console needs nothing above it: the program
// wires in the transfers, the loader and the script runner.
//
// A command that a script can run gives true to go on and false to stop.
class HostCommands {
public:
    virtual ~HostCommands() = default;

    virtual bool load(const char* path, SerialPort* port) = 0;
    virtual bool dload(const char* path, std::uint32_t address, SerialPort* port) = 0;
    virtual bool dsave(const char* path, std::uint32_t address, std::uint32_t length,
                       SerialPort* port) = 0;
    // depth: how many scripts already run around this one (0 from a key).
    virtual bool startScript(const char* path, std::int32_t depth, SerialPort* port) = 0;
    // The monitor prompted: a running script goes on with its next line.
    virtual void promptArrived() = 0;
    // Ends every script, callers included.
    virtual void stopScripts() = 0;
    // A script runs and goes on at the next prompt; a script stopped because
    // a command of it failed. A batch run ends on these, with its status.
    virtual bool scriptRunning() const { return false; }
    virtual bool scriptFailed() const { return false; }
};
