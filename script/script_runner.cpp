#include "console/console.h"
#include "script/script_file.h"

namespace {

// Lines one prompt may run through calls and returns. Only a script that
// calls and rewinds without ever waiting comes near it; it then waits for
// the next prompt instead of holding the console for good.
constexpr int MaxLinesPerStep = 256;

void release(ScriptFile* script) {
    script->close();
    delete script;
}

// Runs the running script's next line. A script that the line called runs
// its first line at once; a script that ends hands back to its caller,
// whose next line also runs at once, so no prompt is lost on the way.
void stepScripts(Console& console, SerialPort* port) {
    for (int lines = 0; console.script != nullptr; ++lines) {
        if (lines == MaxLinesPerStep) {
            console.scriptRunning = true;
            return;
        }
        ScriptFile* current = console.script;
        const bool goOn = current->runNextLine(port, console);
        if (ScriptFile* called = current->takeCalled()) {
            // A line that called a script and then stopped its own script
            // leaves the called one in its place.
            if (goOn) {
                console.callers.push_back(current);
            } else {
                release(current);
            }
            console.script = called;
            continue;
        }
        if (goOn) {
            console.scriptRunning = true;
            return;
        }
        release(current);
        console.script = nullptr;
        if (!console.callers.empty()) {
            console.script = console.callers.back();
            console.callers.pop_back();
        }
    }
    console.scriptRunning = false;
}

}  // namespace

bool Console::startScript(const char* path, std::int32_t depth, SerialPort* portIn) {
    // A new script replaces whatever runs, callers included.
    endScripts();
    scriptRunning = true;
    auto* next = new ScriptFile;
    if (!next->open(path, depth)) {
        delete next;
        print("cannot open file\n");
        sendChar(keys::Enter);
        state = Typing;
        scriptRunning = false;
        return false;
    }
    script = next;
    stepScripts(*this, portIn);
    return scriptRunning;
}

void Console::advanceScript() {
    if (!scriptRunning) {
        return;
    }
    stepScripts(*this, port);
}

void Console::endScripts() {
    if (script != nullptr) {
        release(script);
        script = nullptr;
    }
    for (ScriptFile* caller : callers) {
        release(caller);
    }
    callers.clear();
    scriptRunning = false;
}
