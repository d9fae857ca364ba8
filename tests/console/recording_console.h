#pragma once

#include <string>
#include <vector>

#include "console/console.h"
#include "support/fakes.h"

// A console whose host-side commands only note what they were handed.
class RecordingConsole : public Console {
public:
    RecordingConsole() : Console(keys, screen, host) { port = &wire; }

    bool load(const char* path, SerialPort*) override {
        calls.push_back("load " + std::string(path));
        return true;
    }
    bool dload(const char* path, std::uint32_t address, SerialPort*) override {
        calls.push_back("dload " + std::string(path) + " " + hex(address));
        return true;
    }
    bool dsave(const char* path, std::uint32_t address, std::uint32_t length, SerialPort*) override {
        calls.push_back("dsave " + std::string(path) + " " + hex(address) + " " + hex(length));
        return true;
    }
    bool startScript(const char* path, std::int32_t depth, SerialPort*) override {
        calls.push_back("auto " + std::string(path) + " " + std::to_string(depth));
        return scriptStarts;
    }

    void press(std::initializer_list<int> codes) {
        for (int code : codes) onKey(code);
    }
    void typeText(const std::string& text) {
        for (unsigned char c : text) onKey(c);
    }

    static std::string hex(std::uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", value);
        return text;
    }

    fakes::Keys keys;
    fakes::ScreenText screen;
    fakes::Host host;
    fakes::Line wire;
    std::vector<std::string> calls;
    bool scriptStarts = true;
};
