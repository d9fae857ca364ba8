#include "script/script_file.h"

#include <cstring>
#include <utility>

#include "console/console.h"
#include "platform/host_file_io.h"

bool ScriptFile::open(const char* path, std::int32_t depthIn) {
    depth = depthIn + 1;
    if (depth > MaxDepth) {
        return false;
    }
    path_ = path;
    handle = platform::openFileForReading(path);
    return isOpen();
}

bool ScriptFile::readByte(char& byte) {
    if (peeked_ >= 0) {
        byte = static_cast<char>(peeked_);
        peeked_ = -1;
        return true;
    }
    // A failed read counts as the end of the file.
    return platform::readFile(handle, &byte, 1) == 1;
}

bool ScriptFile::atEndOfFile() {
    char byte = 0;
    if (peeked_ >= 0) return false;
    if (!readByte(byte)) return true;
    peeked_ = static_cast<unsigned char>(byte);
    return false;
}

void ScriptFile::rewind() {
    platform::seekFile(handle, 0);
    peeked_ = -1;
    lineNumber_ = 0;
    midLine_ = false;
}

std::int32_t ScriptFile::readLine(char* copy, char* raw, std::int32_t size) {
    std::int32_t count = 0;
    // One byte per read, unbuffered: only a line feed ends a line, and a
    // line that fills the buffer is handed out in pieces.
    while (count < size - 1) {
        char byte = 0;
        if (!readByte(byte)) {
            break;
        }
        raw[count++] = byte;
        if (byte == '\n') {
            break;
        }
    }
    if (size > 0) {
        raw[count] = '\0';
        // The text that is searched and parsed ends at a NUL of the line.
        std::strcpy(copy, raw);
    }
    if (count > 0 && !midLine_) ++lineNumber_;
    midLine_ = count > 0 && raw[count - 1] != '\n';
    return count;
}

void ScriptFile::warnOfTrap(Console& console, std::int32_t count, const char* raw, bool sent) {
    if (count == 0 || raw[count - 1] == '\n') return;
    const std::string where = "warning: " + path_ + " line " + std::to_string(lineNumber_);
    if (count == LineSize - 1 && !atEndOfFile()) {
        // Said once, at the line's first piece; the pieces after it go as read.
        if (cutWarned_ == lineNumber_) return;
        cutWarned_ = lineNumber_;
        console.printOnFreshLine((where + " is longer than " + std::to_string(LineSize - 1) +
                                  " bytes: it runs in pieces\n").c_str());
    } else if (sent) {
        console.printOnFreshLine((where + " has no line end: the monitor waits for one\n").c_str());
    }
}

bool ScriptFile::lineAwaitsPrompt(const Console& console) const {
    return lineSent_ || lineWaits_ || console.state == Typing;
}

Owned<ScriptFile> ScriptFile::takeCalled() { return std::move(called_); }

Owned<ScriptFile> openScript(Console& console, const char* path, std::int32_t depth) {
    Owned<ScriptFile> script(new ScriptFile);
    if (!script->open(path, depth)) {
        console.refuse("cannot open file\n");
        script.reset();
    }
    return script;
}
