#pragma once

#include <string>

#include "console/console.h"
#include "support/fakes.h"
#include "support/recording_commands.h"

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

    fakes::Keys keys;
    fakes::ScreenText screen;
    fakes::Host host;
    fakes::Line wire;
    Console console{keys, screen, host};
    RecordingCommands commands{console};
};
