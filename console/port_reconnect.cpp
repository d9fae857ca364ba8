// Waiting for a port that went away to come back under the same name.
#include <chrono>
#include <thread>

#include "console/console.h"
#include "console/host_commands.h"
#include "console/quit_chord.h"
#include "console/session_watch.h"
#include "platform/keyboard.h"
#include "platform/terminal.h"
#include "serial/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often the keyboard is looked at while the port is away: F10 F2 quits
// within this, and the wait costs next to no CPU.
constexpr auto KeyLook = std::chrono::milliseconds(50);

}  // namespace

bool SessionWatch::portLost(Console& console) {
    port_.close();
    if (options_.batch && !options_.reconnect) {
        console.print("port lost\n");
        status_ = BatchStatus::PortLost;
        ended_.store(true);
        return false;
    }
    console.print("port lost, waiting for it\n");
    // A batch run that reconnects keeps its script: it goes on at the next
    // prompt of the target that came back.
    if (!options_.batch) console.commands().stopScripts();
    QuitChord chord;
    bool quit = false;
    // Also asked while an open takes its time, so that a network server
    // that accepts and then says nothing does not hold up F10 F2.
    const auto leaving = [&] {
        while (!quit && keyboard_.keyWaiting()) {
            const int key = keyboard_.readKey();
            if (key == Keyboard::NoMoreKeys) break;
            quit = chord.take(key);
        }
        return quit || platform::terminationRequested();
    };
    auto nextOpen = Clock::now();
    for (;;) {
        if (leaving()) {
            // The time-out and signals end the loop through the request.
            if (!platform::terminationRequested()) console.state = QuitRequested;
            return false;
        }
        if (Clock::now() >= nextOpen) {
            if (port_.openUnless(options_.portName.c_str(), options_.baudRate, leaving)) {
                console.print("port back\n");
                console.state = Typing;
                console.promptSplit = false;
                return true;
            }
            nextOpen = Clock::now() + std::chrono::milliseconds(ReopenIntervalMs);
        }
        std::this_thread::sleep_for(KeyLook);
    }
}
