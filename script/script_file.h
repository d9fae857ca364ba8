#pragma once

#include <cstdint>
#include <string>

#include "transfer/host_file.h"

class Console;
class SerialPort;

// One open script file. Lines are fed one per monitor prompt; lines holding
// "local" run on the host instead of going to the target.
class ScriptFile : public HostFile {
public:
    // A line holds at most LineSize - 1 bytes and a terminating NUL.
    static constexpr std::int32_t LineSize = 200;
    // Scripts started by "local auto" nest at most this deep.
    static constexpr std::int32_t MaxDepth = 16;

    // Opens an existing file for reading at one level below depth; refuses,
    // without opening anything, past MaxDepth.
    bool open(const char* path, std::int32_t depth);

    // Reads one line into raw (a line feed ends it and stays in it; at most
    // size - 1 bytes) and copies it as text into copy, where a NUL byte of
    // the line ends it. Returns the bytes read into raw; 0 at end of file.
    std::int32_t readLine(char* copy, char* raw, std::int32_t size);

    // Reads and carries out one line; false when the script is to stop.
    bool runNextLine(SerialPort* port, Console& console);
    // The line just run needs the monitor's next prompt before anything
    // else happens: it went to the target, handed the line back to it, or
    // is "local wait-prompt".
    bool lineAwaitsPrompt(const Console& console) const;
    // Nothing is left to read (looks ahead one byte, which the next read
    // then takes first).
    bool atEndOfFile();
    // A byte atEndOfFile took from the file for the next line.
    bool hasReadAhead() const { return peeked_ >= 0; }

    // Hands over the script that a "local auto" line of this one opened.
    // Whoever runs this script makes it the running one (this one waits as
    // its caller) and runs its first line at once.
    Owned<ScriptFile> takeCalled();

    // The last line stopped the script because a command failed (or a
    // pause found no key), not at the end of the file or a "quit".
    bool stoppedOnFailure() const { return failed_; }

    std::int32_t depth = 0;
    // Set once a read found the end of the file: the script ended by itself
    // rather than being stopped by one of its lines.
    bool atEnd = false;

private:
    bool runLocalLine(const char* text, SerialPort* port, Console& console);
    // The transfers a local line asks for (dload, load, dsave), in that
    // order; each that runs gives result its own.
    void runTransfers(const char* text, SerialPort* port, Console& console, bool& result);
    bool callScript(const char* path, Console& console);
    bool readByte(char& byte);
    // Back to the first line ("local auto-again").
    void rewind();
    // A one-line warning for a line that the monitor would not take as
    // written: cut at LineSize - 1 bytes, or the last one without a line end.
    void warnOfTrap(Console& console, std::int32_t count, const char* raw, bool sent);

    Owned<ScriptFile> called_;
    bool failed_ = false;
    std::string path_;
    // The line being read is this one of the file (counted from 1), and a
    // piece of it has been read already.
    std::int32_t lineNumber_ = 0;
    bool midLine_ = false;
    // The byte atEndOfFile read ahead; -1 for none.
    int peeked_ = -1;
    std::int32_t cutWarned_ = 0;
    bool lineSent_ = false;
    bool lineWaits_ = false;
};

// Opens the script at path one level below depth; when it cannot, says
// "cannot open file", hands the line back to the target and gives null.
Owned<ScriptFile> openScript(Console& console, const char* path, std::int32_t depth);
