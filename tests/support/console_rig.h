#pragma once

#include <string>

#include "console/console.h"
#include "tests/support/fakes.h"
#include "tests/support/recording_commands.h"

// A console on stand-ins all round, its host commands only noted.
struct ConsoleRig {
    ConsoleRig() { console.port = &wire; }

    void press(std::initializer_list<int> codes) {
        for (int code : codes) console.onKey(code);
    }
    void typeText(const std::string& text) {
        for (unsigned char c : text) console.onKey(c);
    }
    void take(const std::string& chunk) {
        console.takeChunk(chunk.data(), static_cast<std::int32_t>(chunk.size()));
    }

    fakes::ScriptedKeys keys;
    fakes::RecordingScreen screen;
    fakes::RecordingHost host;
    fakes::RecordingPort wire;
    Console console{keys, screen, host};
    RecordingCommands commands{console};
};
