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

void endAll(Console& console) {
    if (console.script != nullptr) release(console.script);
    console.script = nullptr;
    for (ScriptFile* caller : console.callers) release(caller);
    console.callers.clear();
    console.scriptRunning = false;
}

// Runs the running script's next line. A script that the line called runs
// its first line at once, and a called script that reaches its end hands
// back to its caller, whose next line also runs at once: no prompt is lost
// on the way. Once a line has sent something (the console then waits for the
// monitor's answer, in Typing), the next line waits for the next prompt, so
// that nothing goes out right behind it. A line that stops its script (a
// failed or cancelled transfer, a file that cannot be opened, "quit", ESC at
// a pause) stops every script on the stack.
void stepScripts(Console& console, SerialPort* port) {
    for (int lines = 0; console.script != nullptr; ++lines) {
        if (lines == MaxLinesPerStep || (lines > 0 && console.state == Typing)) {
            console.scriptRunning = true;
            return;
        }
        ScriptFile* current = console.script;
        const bool goOn = current->runNextLine(port, console);
        ScriptFile* called = current->takeCalled();
        if (!goOn && !current->atEnd) {
            if (called != nullptr) release(called);
            endAll(console);
            return;
        }
        if (called != nullptr) {
            console.callers.push_back(current);
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
    // Called at a monitor prompt: nothing of this step has been sent yet.
    state = AtPrompt;
    stepScripts(*this, port);
}

void Console::endScripts() { endAll(*this); }
