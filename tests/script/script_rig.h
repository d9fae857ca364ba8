#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "console/console.h"
#include "platform/host_services.h"
#include "platform/keyboard.h"
#include "platform/screen.h"
#include "script/script_file.h"
#include "serial/serial_port.h"
#include "tests/support/script_commands.h"

namespace scripttest {

// Everything the console does to the outside, in order: "port:<bytes>",
// "print:<text>", "sleep:<ms>", "beep", "shell:<command>", "key",
// "load ..", "dload ..", "dsave ..", "read".
using Events = std::vector<std::string>;

class RecordingPort final : public SerialPort {
public:
    explicit RecordingPort(Events& eventsIn) : events(eventsIn) {}
    bool open(const char*, std::int32_t) override { return true; }
    void close() override {}
    std::int32_t read(void* buffer, std::int32_t count) override {
        events.push_back("read");
        if (chunks.empty()) {
            if (whenDrained) whenDrained();
            return 0;
        }
        std::string chunk = chunks.front();
        chunks.pop_front();
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(chunk.size(), count));
        chunk.copy(static_cast<char*>(buffer), static_cast<std::size_t>(n));
        return n;
    }
    std::int32_t write(const void* buffer, std::int32_t count) override {
        const std::string bytes(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
        written += bytes;
        writes.push_back(bytes);
        events.push_back("port:" + bytes);
        return count;
    }
    void pulseRts() override {}

    Events& events;
    std::string written;
    std::vector<std::string> writes;
    // What the target says, one chunk per read; then silence.
    std::deque<std::string> chunks;
    // Called at each read once the chunks are all served.
    std::function<void()> whenDrained;
};

class FakeKeyboard final : public Keyboard {
public:
    explicit FakeKeyboard(Events& eventsIn) : events(eventsIn) {}
    bool keyWaiting() override { return !keys.empty() && (!ready || ready()); }
    int readKey() override {
        events.push_back("key");
        if (keys.empty()) {
            return NoMoreKeys;
        }
        const int key = keys.front();
        keys.pop_front();
        return key;
    }

    Events& events;
    std::deque<int> keys;
    // When set, keys are offered only once it says so.
    std::function<bool()> ready;
};

class RecordingScreen final : public Screen {
public:
    explicit RecordingScreen(Events& eventsIn) : events(eventsIn) {}
    void write(const char* bytes, std::size_t count) override {
        text.append(bytes, count);
        events.push_back("print:" + std::string(bytes, count));
    }
    Events& events;
    std::string text;
};

class RecordingHost final : public HostServices {
public:
    explicit RecordingHost(Events& eventsIn) : events(eventsIn) {}
    void sleepMilliseconds(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        events.push_back("sleep:" + std::to_string(milliseconds));
    }
    void beep() override {
        ++beeps;
        events.push_back("beep");
    }
    void shell(const char* command) override {
        commands.emplace_back(command);
        events.push_back("shell:" + std::string(command));
    }
    Events& events;
    std::vector<std::uint32_t> sleeps;
    int beeps = 0;
    std::vector<std::string> commands;
};

// A console with recorders all round and a folder for script files.
struct Rig {
    Rig() {
        char pattern[] = "/tmp/tolvanis-script-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) folder = pattern;
        console.port = &port;
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
    RecordingPort port{events};
    FakeKeyboard keyboard{events};
    RecordingScreen screen{events};
    RecordingHost host{events};
    Console console{keyboard, screen, host};
    ScriptCommands commands{console};
    ScriptRunner& scripts = commands.scripts;
    std::string folder;
};

}  // namespace scripttest
