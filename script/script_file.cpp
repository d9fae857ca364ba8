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
    handle = platform::openFileForReading(path);
    return isOpen();
}

std::int32_t ScriptFile::readLine(char* copy, char* raw, std::int32_t size) {
    std::int32_t count = 0;
    // One byte per read, unbuffered: only a line feed ends a line, and a
    // line that fills the buffer is handed out in pieces.
    while (count < size - 1) {
        char byte = 0;
        if (platform::readFile(handle, &byte, 1) != 1) {
            break;  // end of file; a failed read counts as one
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
    return count;
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
