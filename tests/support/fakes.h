#pragma once

// Stand-ins for the keyboard, the screen, the host and the serial line, so
// the console can be driven and watched without a terminal or a target.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/host_services.h"
#include "platform/keyboard.h"
#include "platform/screen.h"
#include "serial/serial_port.h"

namespace fakes {

class Keys final : public Keyboard {
public:
    void type(std::initializer_list<int> codes) { queue.insert(queue.end(), codes); }
    void type(const std::string& text) {
        for (unsigned char c : text) queue.push_back(c);
    }
    bool keyWaiting() override { return !queue.empty(); }
    int readKey() override {
        if (queue.empty()) return NoMoreKeys;
        const int code = queue.front();
        queue.pop_front();
        return code;
    }
    std::deque<int> queue;
};

class ScreenText final : public Screen {
public:
    void write(const char* bytes, std::size_t count) override { text.append(bytes, count); }
    std::string text;
};

class Host final : public HostServices {
public:
    void sleepMilliseconds(std::uint32_t milliseconds) override { sleeps.push_back(milliseconds); }
    void beep() override { ++beeps; }
    void shell(const char* command) override { commands.emplace_back(command); }
    std::vector<std::uint32_t> sleeps;
    int beeps = 0;
    std::vector<std::string> commands;
};

// A line whose far end is a list of chunks to read; what is written is kept.
class Line final : public SerialPort {
public:
    bool open(const char*, std::int32_t) override { return true; }
    void close() override {}
    std::int32_t read(void* buffer, std::int32_t count) override {
        ++reads;
        if (beforeRead) beforeRead(reads);
        if (chunks.empty()) {
            ++emptyReads;
            return 0;
        }
        // A chunk longer than the read is served over several reads.
        std::string& chunk = chunks.front();
        const auto n = std::min<std::size_t>(chunk.size(), static_cast<std::size_t>(count));
        chunk.copy(static_cast<char*>(buffer), n);
        chunk.erase(0, n);
        if (chunk.empty()) chunks.pop_front();
        return static_cast<std::int32_t>(n);
    }
    std::int32_t write(const void* buffer, std::int32_t count) override {
        written.append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
        return count;
    }
    void pulseRts() override { ++rtsPulses; }

    std::deque<std::string> chunks;
    // Called at every read with its number (from 1), e.g. to type keys later.
    std::function<void(int)> beforeRead;
    std::string written;
    int reads = 0;
    int emptyReads = 0;
    int rtsPulses = 0;
};

}  // namespace fakes
