#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "console/console.h"
#include "console/fits_target.h"
#include "console/host_commands.h"
#include "platform/file_names.h"
#include "platform/host_file_io.h"
#include "script/script_commands.h"
#include "script/script_file.h"
#include "serial/serial_port.h"

namespace {

// The text after a keyword, up to the end of the line (line end included);
// null when the keyword does not occur.
const char* argumentAfter(const char* text, const char* keyword) {
    const char* at = std::strstr(text, keyword);
    return at == nullptr ? nullptr : at + std::strlen(keyword);
}

bool holds(const char* text, const char* keyword) { return std::strstr(text, keyword) != nullptr; }

// "local sleep %d", read with strtoll so that a number out of range is
// clamped rather than left to the formatted-input rules.
bool sleepSeconds(const char* text, std::int32_t& seconds) {
    int matched = -1;
    std::sscanf(text, "local sleep%n", &matched);
    if (matched < 0) {
        return false;
    }
    const char* number = text + matched;
    char* end = nullptr;
    const long long value = std::strtoll(number, &end, 10);
    if (end == number) {
        return false;
    }
    constexpr long long Lowest = std::numeric_limits<std::int32_t>::min();
    constexpr long long Highest = std::numeric_limits<std::int32_t>::max();
    seconds = static_cast<std::int32_t>(value < Lowest ? Lowest : value > Highest ? Highest : value);
    return true;
}

// "local auto FILE". The keyword must be followed by white space, so that
// "auto-again" (or a longer word) is never taken for a script to call.
bool calledScriptName(const char* text, char (&name)[ScriptFile::LineSize]) {
    char blank[2];
    return std::sscanf(text, "local auto%1[ \t\n\v\f\r]%199s", blank, name) == 2;
}

}  // namespace

bool ScriptFile::runNextLine(SerialPort* port, Console& console) {
    char raw[LineSize];
    char copy[LineSize];
    const std::int32_t count = readLine(copy, raw, LineSize);
    lineSent_ = false;
    lineWaits_ = false;
    if (count == 0) {
        atEnd = true;
        failed_ = false;
        return false;
    }
    const char* local = std::strstr(copy, "local");
    warnOfTrap(console, count, raw, local == nullptr);
    if (local == nullptr) {
        // Sent as read, line end and any NUL bytes included; the monitor's
        // next prompt brings the next line.
        if (port != nullptr) {
            port->write(raw, count);
        }
        lineSent_ = true;
        return true;
    }
    return runLocalLine(local, port, console);
}

void ScriptFile::runTransfers(const char* text, SerialPort* port, Console& console, bool& result) {
    static_assert(LineSize == 200, "the widths below assume 200-byte buffers");
    char name[LineSize];
    unsigned long long address = 0;
    unsigned long long length = 0;
    if (std::sscanf(text, "local dload %199s %llx", name, &address) == 2) {
        result = fitsTarget(address)
                     ? console.commands().dload(platform::scriptFileName(name).c_str(),
                                                static_cast<std::uint32_t>(address), port)
                     : console.refuse("invalid address\n");
    }
    if (std::sscanf(text, "local load %199s", name) == 1) {
        result = console.commands().load(platform::scriptFileName(name).c_str(), port);
    }
    if (std::sscanf(text, "local dsave %199s %llx %llx", name, &address, &length) == 3) {
        if (!fitsTarget(address)) {
            result = console.refuse("invalid address\n");
        } else if (!fitsTarget(length)) {
            result = console.refuse("invalid length\n");
        } else {
            result = console.commands().dsave(platform::scriptFileName(name).c_str(),
                                              static_cast<std::uint32_t>(address),
                                              static_cast<std::uint32_t>(length), port);
        }
    }
}

bool ScriptFile::runLocalLine(const char* text, SerialPort* port, Console& console) {
    // Every test runs, in this order; each command that gives a result
    // replaces the line's result, so the last one counts.
    bool result = true;
    runTransfers(text, port, console, result);
    char name[LineSize];
    if (calledScriptName(text, name)) {
        result = callScript(name, console);
    }
    std::int32_t seconds = 0;
    if (sleepSeconds(text, seconds)) {
        result = local::sleep(console, seconds);
    }
    if (const char* argument = argumentAfter(text, "echo ")) {
        result = local::echo(console, argument);
    }
    for (const char* keyword : {"dos ", "sh ", "!"}) {
        if (const char* argument = argumentAfter(text, keyword)) {
            result = local::shell(console, argument);
        }
    }
    if (holds(text, "help")) {
        result = console.showHelp();
    }
    // The pause comes before the beep, so that a line holding both goes on
    // after ESC: the beep's result is the last.
    if (holds(text, "pause")) {
        result = local::pause(console);
    }
    if (holds(text, "beep")) {
        result = local::beep(console);
    }
    // "wait-prompt" runs nothing: the line only waits for the next prompt.
    lineWaits_ = holds(text, "wait-prompt");
    if (holds(text, "auto-again")) {
        rewind();
    }
    // A "quit" ends the script as its end of file would, unless the line
    // had already failed.
    failed_ = !result;
    if (holds(text, "quit")) {
        result = false;
    }
    return result;
}

bool ScriptFile::callScript(const char* path, Console& console) {
    // One that was never taken over (the line was run outside a runner)
    // is let go here.
    called_.reset();
    called_ = openScript(console, platform::scriptFileName(path).c_str(), depth);
    return called_ != nullptr;
}
