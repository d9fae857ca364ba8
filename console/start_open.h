#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/keyboard.h"

class SerialPort;

// The keyboard the console reads: keys typed while the port was being
// opened come first, in the order they were typed.
class TypedAheadKeyboard final : public Keyboard {
public:
    explicit TypedAheadKeyboard(Keyboard& keyboard) : keyboard_(keyboard) {}
    bool keyWaiting() override { return !ahead_.empty() || keyboard_.keyWaiting(); }
    int readKey() override;
    std::intptr_t waitHandle() const override { return keyboard_.waitHandle(); }
    std::optional<platform::Deadline> dueBy() const override;
    bool inputEnded() override { return ahead_.empty() && keyboard_.inputEnded(); }

    // A key read from the keyboard and handed back.
    void keep(int key) { ahead_.push_back(key); }
    // The keyboard below, which reads as typed.
    Keyboard& typed() { return keyboard_; }

private:
    Keyboard& keyboard_;
    std::deque<int> ahead_;
};

enum class StartOpen : std::uint8_t { Opened, Failed, Quit };

// The first open of the port. F10 F2 (or a quit signal) ends it at once,
// as while waiting for a lost port, however long a network server takes to
// answer; other keys typed meanwhile go to the console afterwards. A server
// that closes the connection as soon as it is made (a ser2net still freeing
// its device from the connection before) is asked again for up to
// BusyRetryMs.
StartOpen openAtStart(SerialPort& port, const std::string& portName, std::int32_t baudRate,
                      TypedAheadKeyboard& keyboard);

inline constexpr int BusyRetryMs = 2000;
