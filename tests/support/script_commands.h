#pragma once

#include <cstdint>

#include "script/script_runner.h"
#include "tests/support/recording_commands.h"

// Commands for script tests: load, dload and dsave are only noted and, as
// the real ones do, hand the line back; scripts run for real.
class ScriptCommands final : public RecordingCommands {
public:
    explicit ScriptCommands(Console& consoleIn) : RecordingCommands(consoleIn), scripts(consoleIn) {
        handsBack = true;
    }
    bool startScript(const char* path, std::int32_t depth, SerialPort* port) override {
        return scripts.start(path, depth, port);
    }
    void promptArrived() override { scripts.promptArrived(); }
    void stopScripts() override { scripts.stopAll(); }

    ScriptRunner scripts;
};
