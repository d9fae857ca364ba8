#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/host_commands.h"

// Host commands that only note what they were handed, in order: "load PATH",
// "dload PATH ADDR", "dsave PATH ADDR LENGTH" (hex) and "auto PATH DEPTH".
// Made with a console, they hand themselves to it.
class RecordingCommands : public HostCommands {
public:
    explicit RecordingCommands(Console& consoleIn) : console(consoleIn) {
        console.useCommands(*this);
    }

    bool load(const char* path, SerialPort* port) override {
        return transfer("load " + std::string(path), port);
    }
    bool dload(const char* path, std::uint32_t address, SerialPort* port) override {
        return transfer("dload " + std::string(path) + " " + hex(address), port);
    }
    bool dsave(const char* path, std::uint32_t address, std::uint32_t length,
               SerialPort* port) override {
        return transfer("dsave " + std::string(path) + " " + hex(address) + " " + hex(length), port);
    }
    bool startScript(const char* path, std::int32_t depth, SerialPort*) override {
        note("auto " + std::string(path) + " " + std::to_string(depth));
        return scriptStarts;
    }
    void promptArrived() override { ++prompts; }
    void stopScripts() override { ++stops; }

    static std::string hex(std::uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", value);
        return text;
    }

    Console& console;
    std::vector<std::string> calls;
    // What load, dload and dsave give, and whether they first hand the line
    // back to the target as the real ones do on every way out.
    bool result = true;
    bool handsBack = false;
    SerialPort* handedPort = nullptr;
    bool scriptStarts = true;
    int prompts = 0;
    int stops = 0;
    // Told of each call as it is noted, e.g. to keep it among other events.
    std::function<void(const std::string&)> onCall;

private:
    void note(const std::string& call) {
        calls.push_back(call);
        if (onCall) onCall(call);
    }
    bool transfer(const std::string& call, SerialPort* port) {
        handedPort = port;
        note(call);
        if (handsBack) console.handBack();
        return result;
    }
};
