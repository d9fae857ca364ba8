#pragma once

#include <cstdint>
#include <vector>

#include "script/script_file.h"

class Console;
class SerialPort;

// Runs scripts one line per monitor prompt and owns them: the running one
// and the scripts that called it with "local auto", which go on at their
// next line when it ends.
class ScriptRunner {
public:
    explicit ScriptRunner(Console& console) : console_(console) {}

    // Opens the script and runs its first line at once. A new script
    // replaces whatever runs, callers included. True while it goes on.
    bool start(const char* path, std::int32_t depth, SerialPort* port);
    // The monitor prompted: the running script's next line.
    void promptArrived();
    // Lets go of every script.
    void stopAll();

    // A script is being run and the next monitor prompt runs its next line.
    bool scriptRunning() const { return scriptRunning_; }
    // A script stopped because one of its commands failed (or it could not
    // be opened); a batch run ends on it with its status.
    bool failed() const { return failed_; }
    // The running script, or null.
    const ScriptFile* script() const { return script_.get(); }
    // Scripts waiting for the running one to end; innermost last.
    std::size_t callerCount() const { return callers_.size(); }

private:
    void step(SerialPort* port);

    Console& console_;
    Owned<ScriptFile> script_;
    std::vector<Owned<ScriptFile>> callers_;
    bool scriptRunning_ = false;
    bool failed_ = false;
};
