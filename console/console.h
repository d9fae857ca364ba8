#pragma once

#include <cstdint>
#include <string>

#include "console/console_state.h"
#include "console/loop_input.h"

struct ChordStage;
class HostCommands;
class HostServices;
class Keyboard;
class Screen;
class SerialPort;
class SessionWatch;

// Screen text of the main thread: chunks from the port and short one-off
// texts (an echoed character, a star, a line end).
extern char printBuffer[1000];

// Key codes the console acts on.
namespace keys {
inline constexpr int Backspace = 8;
inline constexpr int Enter = 13;
inline constexpr int Escape = 27;
inline constexpr int PrefixZero = 0;
inline constexpr int PrefixExtended = 224;
inline constexpr int F1 = 59;
inline constexpr int F2 = 60;
inline constexpr int F3 = 61;
inline constexpr int F4 = 62;
inline constexpr int F9 = 67;
inline constexpr int F10 = 68;
}  // namespace keys

// Joins keyboard, screen and serial line. The host-side commands live above
// it and are reached through the HostCommands the program hands it; they use
// its printing, sendChar, the ways out below and the public fields.
class Console {
public:
    Console(Keyboard& keyboard, Screen& screen, HostServices& host);
    virtual ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // The commands keys and prompts reach. Until the program hands them
    // over, every command does nothing and gives false.
    void useCommands(HostCommands& commands);
    HostCommands& commands() const { return *commands_; }
    Keyboard& keyboard() const { return keyboard_; }
    HostServices& host() const { return host_; }

    // The console loop; returns once the user asked to quit (or the process
    // was told to end from outside).
    void run(SerialPort* port, bool hasScript, const char* scriptName);

    // Port output taken in a pass is written in one go, before anything
    // else is printed and at the end of the pass: a flood then costs the
    // screen one write per pass, not one per piece.
    void print(const char* text);
    // A line of its own: a line end first where the screen is mid-line.
    void printOnFreshLine(const char* text);
    void flushOutput();
    std::int32_t sendChar(int code);
    // Prints one chunk read from the port and looks for the monitor prompt.
    void takeChunk(const char* bytes, std::int32_t count);
    // A piece of a chunk: the bytes that came at once, printed at once. The
    // prompt tests run on the chunk as a whole when it ends, as they ran on
    // one timed read: a prompt answering a carriage return close behind
    // another prompt advances a script once, not twice, and a script's next
    // line goes out after the chunk that prompted it. The chunk ends with
    // the piece that says so (no bytes: the chunk as it is).
    void takePiece(const char* bytes, std::int32_t count, bool chunkEnds);
    // The chunk being assembled holds a prompt, or half of one, that its end
    // will act on; keys wait for that, as they waited for a timed read.
    bool promptPending() const;

    // The ways out of a host-side command. handBack gives the line back to
    // the target: one carriage return, so that the monitor prompts again,
    // and Typing until it does. refuse says why first, then hands back, and
    // gives the command's false; refuseAfterReturn hands back first.
    void handBack();
    bool refuse(const char* message);
    bool refuseAfterReturn(const char* message);

    // Keyboard state machine, argument line editor and help.
    void onKey(int ch);
    bool showHelp();
    void clearLine();
    void editLine(int ch);

    ConsoleState state = AtPrompt;
    SerialPort* port = nullptr;
    char line[1000] = {};
    std::int32_t lineLength = 0;
    std::int32_t starsShown = 0;
    bool promptSplit = false;
    // Reconnects a lost port and ends batch runs; none in tests of the loop.
    SessionWatch* watch = nullptr;

private:
    // The prompt tests on a whole chunk.
    void testChunk();
    // The port's part of a pass; true when it handed anything on.
    bool takePort(LoopInput& input);
    void openPrompt(const char* prompt, ConsoleState next);
    void takeScanCode(const ChordStage& stage, int ch);
    void finishArgumentLine();

    Keyboard& keyboard_;
    Screen& screen_;
    HostServices& host_;
    HostCommands* commands_;
    // The chunk being assembled from pieces, and how much of its text (which
    // ends at a NUL byte) has been printed.
    char chunk_[ChunkSize + 1] = {};
    std::int32_t chunkCount_ = 0;
    std::int32_t chunkPrinted_ = 0;
    std::string pendingOutput_;
    // The last byte written to the screen was a line end (or none was).
    bool atLineStart_ = true;
    void show(const char* text, std::size_t count);
};
