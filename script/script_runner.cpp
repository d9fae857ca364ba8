#include "script/script_runner.h"

#include <utility>

#include "console/console.h"

namespace {

// Lines one prompt may run through calls and returns. Only a script that
// calls and rewinds without ever waiting comes near it; it then waits for
// the next prompt instead of holding the console for good.
constexpr int MaxLinesPerStep = 256;

}  // namespace

bool ScriptRunner::start(const char* path, std::int32_t depth, SerialPort* port) {
    stopAll();
    script_ = openScript(console_, path, depth);
    if (script_ == nullptr) {
        failed_ = true;
        return false;
    }
    scriptRunning_ = true;
    step(port);
    return scriptRunning_;
}

void ScriptRunner::promptArrived() {
    if (!scriptRunning_) {
        return;
    }
    // Called at a monitor prompt: nothing of this step has been sent yet.
    console_.state = AtPrompt;
    step(console_.port);
}

void ScriptRunner::stopAll() {
    script_.reset();
    callers_.clear();
    scriptRunning_ = false;
}

// Runs the running script's next line. A script that the line called runs
// its first line at once, and a called script that reaches its end hands
// back to its caller, whose next line also runs at once: no prompt is lost
// on the way. Once a line has sent something (the console then waits for the
// monitor's answer, in Typing), the next line waits for the next prompt, so
// that nothing goes out right behind it. A line that stops its script (a
// failed or cancelled transfer, a file that cannot be opened, "quit", ESC at
// a pause) stops every script on the stack.
void ScriptRunner::step(SerialPort* port) {
    for (int lines = 0; script_ != nullptr; ++lines) {
        if (lines == MaxLinesPerStep || (lines > 0 && console_.state == Typing)) {
            scriptRunning_ = true;
            return;
        }
        const bool goOn = script_->runNextLine(port, console_);
        Owned<ScriptFile> called = script_->takeCalled();
        if (!goOn && !script_->atEnd) {
            failed_ = failed_ || script_->stoppedOnFailure();
            stopAll();
            return;
        }
        if (called != nullptr) {
            callers_.push_back(std::move(script_));
            script_ = std::move(called);
            continue;
        }
        // A last line that needs no prompt has none to wait for: the script
        // (and a batch run with it) ends once it ran.
        if (goOn && (!callers_.empty() || script_->lineAwaitsPrompt(console_) ||
                     !script_->atEndOfFile())) {
            scriptRunning_ = true;
            return;
        }
        if (goOn) {
            script_.reset();
            break;
        }
        script_.reset();
        if (!callers_.empty()) {
            script_ = std::move(callers_.back());
            callers_.pop_back();
        }
    }
    scriptRunning_ = false;
}
