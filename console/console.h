#pragma once

#include <cstdint>
#include <vector>

#include "console/console_state.h"

class HostServices;
class Keyboard;
class Screen;
class ScriptFile;
class SerialPort;
class TransferJob;

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

// Joins keyboard, screen and serial line. Its fields are shared by the
// keyboard state machine, the transfer commands and the scripts.
class Console {
public:
    Console(Keyboard& keyboard, Screen& screen, HostServices& host);
    virtual ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // The console loop; returns once the user asked to quit (or the process
    // was told to end from outside).
    void run(SerialPort* port, bool hasScript, const char* scriptName);

    void print(const char* text);
    std::int32_t sendChar(int code);
    // Runs the script's next line, ending the script when it says so.
    void advanceScript();
    // Prints one chunk read from the port and looks for the monitor prompt.
    void takeChunk(const char* bytes, std::int32_t count);

    // Keyboard state machine, argument line editor and help.
    void onKey(int ch);
    bool showHelp();
    void clearLine();
    void editLine(int ch);

    // Host-side commands. Virtual so tests can see what the keyboard and
    // scripts hand them.
    virtual bool load(const char* path, SerialPort* port);
    virtual bool dload(const char* path, std::uint32_t address, SerialPort* port);
    virtual bool dsave(const char* path, std::uint32_t address, std::uint32_t length,
                       SerialPort* port);
    virtual bool startScript(const char* path, std::int32_t depth, SerialPort* port);

    // The wait of the main thread while a transfer job runs.
    bool waitForJob(TransferJob* job);
    bool foregroundWait(TransferJob* job);

    // Small commands of script lines.
    bool sleep(std::int32_t seconds);
    bool echo(const char* text);
    bool shell(const char* command);
    bool beep();
    bool pause();

    ConsoleState state = AtPrompt;
    ScriptFile* script = nullptr;
    SerialPort* port = nullptr;
    char line[1000] = {};
    std::int32_t lineLength = 0;
    std::int32_t starsShown = 0;
    bool scriptRunning = false;
    bool promptSplit = false;
    // Scripts that started the running one with "local auto" and go on at
    // their next line when it ends; innermost last.
    std::vector<ScriptFile*> callers;

protected:
    Keyboard& keyboard;
    Screen& screen;
    HostServices& host;

private:
    void openPrompt(const char* prompt, ConsoleState next);
    void finishArgumentLine();
    void endScripts();
};
