#pragma once

#include <cstdint>
#include <functional>

// The host-side effects that script lines ask for. Kept behind one seam so
// tests can record them instead of sleeping, beeping or running commands.
class HostServices {
public:
    virtual ~HostServices() = default;
    // Asked every few tens of milliseconds while a sleep or a shell command
    // runs (the console keeps an eye on the port meanwhile); may be empty.
    std::function<void()> whileWaiting;

    virtual void sleepMilliseconds(std::uint32_t milliseconds) = 0;
    // A 1000 Hz tone of 100 ms where the platform can play one.
    virtual void beep() = 0;
    // Runs a command through the host's command interpreter and waits for
    // it; a request to end the program ends the command and all it started.
    virtual void shell(const char* command) = 0;
};

// The real thing for this platform.
class SystemHostServices final : public HostServices {
public:
    void sleepMilliseconds(std::uint32_t milliseconds) override;
    void beep() override;
    void shell(const char* command) override;
};
