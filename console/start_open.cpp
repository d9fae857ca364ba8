#include "console/start_open.h"

#include <chrono>
#include <thread>

#include "console/quit_chord.h"
#include "platform/keyboard.h"
#include "platform/terminal.h"
#include "serial/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

// Between two tries of a busy server, in steps that look at the keys.
constexpr auto RetryGap = std::chrono::milliseconds(100);
constexpr auto KeyLook = std::chrono::milliseconds(50);

}  // namespace

int TypedAheadKeyboard::readKey() {
    if (ahead_.empty()) return keyboard_.readKey();
    const int key = ahead_.front();
    ahead_.pop_front();
    return key;
}

std::optional<platform::Deadline> TypedAheadKeyboard::dueBy() const {
    if (!ahead_.empty()) return platform::Deadline::after(platform::milliseconds(0));
    return keyboard_.dueBy();
}

StartOpen openAtStart(SerialPort& port, const std::string& portName, std::int32_t baudRate,
                      TypedAheadKeyboard& keyboard) {
    QuitChord chord;
    bool quit = false;
    const auto leaving = [&] {
        Keyboard& typed = keyboard.typed();
        while (!quit && typed.keyWaiting()) {
            // An ended input is left for the console to find.
            const int key = typed.readKey();
            if (key == Keyboard::NoMoreKeys) break;
            keyboard.keep(key);
            quit = chord.take(key);
        }
        return quit || platform::terminationRequested();
    };
    const auto busyUntil = Clock::now() + std::chrono::milliseconds(BusyRetryMs);
    for (;;) {
        if (port.openUnless(portName.c_str(), baudRate, leaving)) return StartOpen::Opened;
        if (leaving()) return StartOpen::Quit;
        if (port.openFailure() != OpenFailure::ClosedByServer || Clock::now() >= busyUntil) {
            return StartOpen::Failed;
        }
        for (const auto next = Clock::now() + RetryGap; Clock::now() < next;) {
            if (leaving()) return StartOpen::Quit;
            std::this_thread::sleep_for(KeyLook);
        }
    }
}
