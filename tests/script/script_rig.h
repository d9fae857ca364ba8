#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "script/script_file.h"
#include "tests/support/fakes.h"
#include "tests/support/script_commands.h"

namespace scripttest {

using fakes::Events;

// A console with recorders all round and a folder for script files.
struct Rig {
    Rig() {
        char pattern[] = "/tmp/tolvanis-script-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) folder = pattern;
        console.port = &port;
        port.events = &events;
        keyboard.events = &events;
        screen.events = &events;
        host.events = &events;
        commands.onCall = [this](const std::string& call) { events.push_back(call); };
    }
    ~Rig() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // Writes a file into the folder and returns its path.
    std::string file(const std::string& name, const std::string& content) {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string path(const std::string& name) const { return folder + "/" + name; }

    // The monitor prompts once.
    void prompt() { console.takeChunk(">> ", 3); }

    // Events of one kind, in order, with the prefix taken off.
    std::vector<std::string> only(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& event : events) {
            if (event.rfind(prefix, 0) == 0) found.push_back(event.substr(prefix.size()));
        }
        return found;
    }

    Events events;
    fakes::RecordingPort port;
    fakes::ScriptedKeys keyboard;
    fakes::RecordingScreen screen;
    fakes::RecordingHost host;
    Console console{keyboard, screen, host};
    ScriptCommands commands{console};
    ScriptRunner& scripts = commands.scripts;
    std::string folder;
};

}  // namespace scripttest
