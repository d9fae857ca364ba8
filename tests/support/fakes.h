#pragma once

// Stand-ins for the keyboard, the screen, the host and the serial line, so
// the console can be driven and watched without a terminal or a target.
// Each can also note what happens to it in a record shared by all of them,
// to check the order of events across the four.
#include <algorithm>
#include <atomic>
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

// In order: "port:<bytes>", "print:<text>", "sleep:<ms>", "beep",
// "shell:<command>", "key", "read", and whatever else a test adds.
using Events = std::vector<std::string>;

class Recorder {
public:
    // Where events go; none are kept while it is null.
    Events* events = nullptr;

protected:
    void note(const std::string& event) {
        if (events != nullptr) events->push_back(event);
    }
};

// Keys typed ahead, handed out one by one.
class ScriptedKeys final : public Keyboard, public Recorder {
public:
    void type(std::initializer_list<int> codes) { queue.insert(queue.end(), codes); }
    void type(const std::string& text) {
        for (unsigned char c : text) queue.push_back(c);
    }
    bool keyWaiting() override { return !queue.empty() && (!ready || ready()); }
    int readKey() override {
        note("key");
        if (queue.empty()) return NoMoreKeys;
        const int code = queue.front();
        queue.pop_front();
        ++taken;
        return code;
    }

    std::deque<int> queue;
    // When set, keys are offered only once it says so (asked on the thread
    // that reads the keyboard).
    std::function<bool()> ready;
    // Keys handed out; other threads may watch it.
    std::atomic<int> taken{0};
};

class RecordingScreen final : public Screen, public Recorder {
public:
    void write(const char* bytes, std::size_t count) override {
        text.append(bytes, count);
        kept.append(bytes, count);
        note("print:" + std::string(bytes, count));
    }
    void keepUnshown(const char* bytes, std::size_t count) override { kept.append(bytes, count); }
    std::string text;
    // What a log would hold: the text and, in their places, the bytes not shown.
    std::string kept;
};

class RecordingHost final : public HostServices, public Recorder {
public:
    void sleepMilliseconds(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        note("sleep:" + std::to_string(milliseconds));
    }
    void beep() override {
        ++beeps;
        note("beep");
    }
    void shell(const char* command) override {
        commands.emplace_back(command);
        note("shell:" + std::string(command));
    }
    std::vector<std::uint32_t> sleeps;
    int beeps = 0;
    std::vector<std::string> commands;
};

// A line whose far end is a list of chunks to read, then silence; what is
// written is kept, whole and write by write.
class RecordingPort final : public SerialPort, public Recorder {
public:
    bool open(const char*, std::int32_t) override {
        ++opens;
        const bool opened = !opensWhen || opensWhen(opens);
        failure = opened ? OpenFailure::Unknown : failWith;
        return opened;
    }
    void close() override {}
    std::int32_t read(void* buffer, std::int32_t count) override {
        ++reads;
        note("read");
        if (beforeRead) beforeRead(reads);
        if (chunks.empty()) {
            ++emptyReads;
            if (whenDrained) whenDrained();
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
        const std::int32_t went = accepts ? accepts(count) : count;
        const std::string bytes(static_cast<const char*>(buffer), static_cast<std::size_t>(went));
        written += bytes;
        writes.push_back(bytes);
        note("port:" + bytes);
        return went;
    }
    // Safe from a pulse thread beside the reads.
    void pulseRts() override { ++rtsPulses; }
    bool pulseIsLineControl() const override { return lineControlPulses; }

    std::deque<std::string> chunks;
    // Called at every read with its number (from 1), e.g. to type keys later.
    std::function<void(int)> beforeRead;
    // Called at each read once the chunks are all served.
    std::function<void()> whenDrained;
    // How many bytes of a write of count go out (all when unset); a write
    // is kept in writes with those, an empty one when none did.
    std::function<std::int32_t(std::int32_t count)> accepts;
    // Whether the n-th open (from 1) succeeds (every one when unset); a
    // failing one tells failWith as its reason.
    std::function<bool(int)> opensWhen;
    OpenFailure failWith = OpenFailure::Unknown;
    int opens = 0;
    std::string written;
    std::vector<std::string> writes;
    int reads = 0;
    int emptyReads = 0;
    std::atomic<int> rtsPulses{0};
    // Pulses are driver calls, made beside the reads where asked for.
    bool lineControlPulses = false;
};

}  // namespace fakes
