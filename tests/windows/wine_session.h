#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/windows/vt_screen.h"

// Windows programs under Wine, from the Linux side: a fresh prefix of their
// own with COM1 mapped to a pseudo-terminal, and a program run with a
// pseudo-terminal as its console.
namespace wine {

using Environment = std::map<std::string, std::string>;

struct CommandResult {
    // The exit code; nullopt when the command did not end in time or was
    // killed by a signal.
    std::optional<int> exitCode;
    std::string output;
};

// A throwaway Wine prefix in a temporary folder; wineserver is stopped and
// the folder removed when it goes.
class Prefix {
public:
    Prefix();
    ~Prefix();
    Prefix(const Prefix&) = delete;
    Prefix& operator=(const Prefix&) = delete;

    // Creates the prefix and maps COM1 to comLink(); false, with the reason
    // in error(), when that could not be done and checked.
    bool setUp();
    const std::string& error() const { return error_; }

    // Runs a Wine command (e.g. {"reg", "query", ...}) with its output captured.
    CommandResult wine(const std::vector<std::string>& arguments,
                       std::chrono::seconds timeout = std::chrono::seconds(60)) const;

    // What COM1 opens: a symbolic link that each test points at its simulator.
    const std::string& comLink() const { return comLink_; }
    // True when the prefix's COM1 is comLink() and nothing else; checked
    // before every program run, so nothing ever reaches a real serial port.
    bool com1IsTheLink() const;
    // A COM name with no device in the prefix.
    std::string absentPort() const;
    // A folder for a test's files; the programs run there.
    std::string makeWorkFolder(const std::string& name) const;

    Environment environment() const;

private:
    void stopServer() const;

    std::string folder_;
    std::string prefix_;
    std::string comLink_;
    std::string error_;
};

// Where a program's standard input comes from: its console, or a Linux pipe
// that the test writes keys into.
enum class Input { Console, Pipe };

// A Windows program on a pseudo-terminal that is its console.
class ConsoleProgram {
public:
    static constexpr int Rows = 60;
    static constexpr int Columns = 160;

    ConsoleProgram(const Prefix& prefix, const std::vector<std::string>& arguments,
                   const std::string& folder, const Environment& extra = {},
                   Input input = Input::Console);
    // Kills the program should it still run.
    ~ConsoleProgram();
    ConsoleProgram(const ConsoleProgram&) = delete;
    ConsoleProgram& operator=(const ConsoleProgram&) = delete;

    bool started() const { return pid_ > 0; }
    // Keys as an xterm sends them; Wine's console turns them into key events.
    void type(const std::string& bytes);
    // Bytes into the pipe that is standard input (Input::Pipe).
    void pipe(const std::string& bytes);
    // Waits until the rendered screen, white space normalised, holds text.
    bool waitForText(const std::string& text, std::chrono::milliseconds timeout);
    // Waits until the normalised screen ends with text.
    bool waitForEnding(const std::string& text, std::chrono::milliseconds timeout);
    // Keeps drawing the console until done() holds; false after the time-out.
    template <typename Pred>
    bool waitUntil(Pred done, std::chrono::milliseconds timeout);
    // The exit code once the program has ended; nullopt after the time-out.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    // The rendered screen.
    std::string screen() const { return screen_.text(); }
    std::string normalisedScreen() const;

private:
    // Reads what the console has drawn, waiting up to timeoutMs for it.
    void pump(int timeoutMs);
    void kill();

    pid_t pid_ = -1;
    int master_ = -1;
    int pipe_ = -1;
    std::optional<int> exitCode_;
    bool exited_ = false;
    VtScreen screen_{Rows, Columns};
};

template <typename Pred>
bool ConsoleProgram::waitUntil(Pred done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pump(static_cast<int>(left.count() < 50 ? left.count() : 50));
    }
    return true;
}

// Lines of a script or text file as Windows keeps them.
std::string windowsLines(const std::vector<std::string>& lines);
bool writeFile(const std::string& path, const std::string& bytes);
std::optional<std::string> readFile(const std::string& path);
// Collapses every run of white space into one blank.
std::string normalised(const std::string& text);

}  // namespace wine
