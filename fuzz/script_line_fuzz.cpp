// Any bytes as a script file, run line by line and then through the
// console's script runner (nesting and rewinds included), with the port, the
// shell, sleep and beep replaced by recorders and the transfer commands only
// noted.
//
// What a line may do: a line without "local" goes to the port as read and
// does nothing else; a "local" line sends nothing but carriage returns, runs
// a shell command only for each of "dos ", "sh " and "!" that it holds (the
// rest of the line after it, without the line end), sleeps only with
// "sleep", beeps only with "beep", and hands a transfer command only a path
// it holds.
//
// "local auto" opens the file it names: the process opens nothing outside
// its scratch folder (see open_guard.cpp), where the script is the only file.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/console_rig.h"
#include "tests/support/script_commands.h"
#include "fuzz/open_guard.h"
#include "fuzz/require.h"
#include "fuzz/scratch_folder.h"
#include "script/script_file.h"

using fuzzing::require;

namespace {

constexpr const char* ScriptName = "script";
constexpr int LinesRunOneByOne = 64;
constexpr int PromptsToTheRunner = 32;

// The line a read at offset `at` takes: up to a line feed (kept) or
// LineSize - 1 bytes.
std::string_view lineAt(std::string_view file, std::size_t at) {
    if (at >= file.size()) return {};
    const std::string_view rest = file.substr(at, ScriptFile::LineSize - 1);
    const std::size_t feed = rest.find('\n');
    return feed == std::string_view::npos ? rest : rest.substr(0, feed + 1);
}

std::vector<std::string> shellCommandsOf(std::string_view line) {
    const std::string_view text = line.substr(0, line.find('\0'));
    const std::size_t local = text.find("local");
    std::vector<std::string> commands;
    if (local == std::string_view::npos) return commands;
    const std::string_view rest = text.substr(local);
    for (std::string_view keyword : {"dos ", "sh ", "!"}) {
        const std::size_t at = rest.find(keyword);
        if (at == std::string_view::npos) continue;
        // The line's end is no part of the command.
        std::string_view command = rest.substr(at + keyword.size());
        while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) command.remove_suffix(1);
        commands.emplace_back(command);
    }
    return commands;
}

struct Marks {
    std::size_t written, commands, sleeps, calls;
    int beeps;
};

Marks marksOf(const ConsoleRig& console) {
    return {console.wire.written.size(), console.host.commands.size(), console.host.sleeps.size(),
            console.commands.calls.size(), console.host.beeps};
}

void checkLine(const ConsoleRig& console, const Marks& before, std::string_view line,
               bool goOn) {
    const std::string_view text = line.substr(0, line.find('\0'));
    const std::size_t local = text.find("local");
    const std::string_view written = std::string_view(console.wire.written).substr(before.written);
    const std::vector<std::string> commands(console.host.commands.begin() + before.commands,
                                            console.host.commands.end());
    const std::size_t sleeps = console.host.sleeps.size() - before.sleeps;
    const int beeps = console.host.beeps - before.beeps;
    const std::vector<std::string> calls(console.commands.calls.begin() + before.calls,
                                         console.commands.calls.end());

    if (local == std::string_view::npos) {
        require(written == line, "a plain line goes to the port as read");
        require(commands.empty() && sleeps == 0 && beeps == 0 && calls.empty() && goOn,
                "a plain line does nothing on the host");
        return;
    }
    const std::string_view rest = text.substr(local);
    require(written.find_first_not_of('\r') == std::string_view::npos,
            "a local line sends only carriage returns");
    require(commands == shellCommandsOf(line), "shell commands are the ones the line holds");
    require(sleeps <= 1 && (sleeps == 0 || rest.find("sleep") != std::string_view::npos),
            "a sleep only when the line says sleep");
    require(beeps <= 1 && (beeps == 0 || rest.find("beep") != std::string_view::npos),
            "a beep only when the line says beep");
    require(calls.size() <= 4, "at most one of each transfer command");
    for (const std::string& call : calls) {
        const std::size_t space = call.find(' ');
        const std::string_view keyword = std::string_view(call).substr(0, space);
        const std::string_view path =
            std::string_view(call).substr(space + 1, call.find(' ', space + 1) - space - 1);
        require(rest.find(keyword) != std::string_view::npos,
                "a transfer command only when the line names it");
        require(rest.find(path) != std::string_view::npos, "a path only as the line holds it");
    }
    if (rest.find("quit") != std::string_view::npos) {
        require(!goOn, "quit stops the script");
    }
}

// Line by line: each line's effects are checked against the line itself.
void runOneByOne(std::string_view file) {
    ConsoleRig console;
    ScriptFile script;
    require(script.open(ScriptName, 0), "the script opens");
    for (int n = 0; n < LinesRunOneByOne; ++n) {
        // The byte a line cut at its full length made the script read ahead
        // belongs to the next line.
        const off_t at = lseek(static_cast<int>(script.handle), 0, SEEK_CUR) - (script.hasReadAhead() ? 1 : 0);
        require(at >= 0, "the script's position is known");
        const std::string_view line = lineAt(file, static_cast<std::size_t>(at));
        const Marks before = marksOf(console);
        const bool goOn = script.runNextLine(&console.wire, console.console);
        script.takeCalled().reset();
        if (line.empty()) {
            require(!goOn, "the end of the file stops the script");
            break;
        }
        checkLine(console, before, line, goOn);
    }
    script.close();
}

// Through the runner, prompt after prompt: whatever nesting and rewinds do,
// every shell command run is one that some line of the file asks for.
void runAsTheConsoleDoes(std::string_view file) {
    std::set<std::string> asked;
    bool saysSleep = false;
    bool saysBeep = false;
    for (std::size_t at = 0; at < file.size();) {
        const std::string_view line = lineAt(file, at);
        for (std::string& command : shellCommandsOf(line)) asked.insert(std::move(command));
        const std::string_view text = line.substr(0, line.find('\0'));
        saysSleep = saysSleep || text.find("sleep") != std::string_view::npos;
        saysBeep = saysBeep || text.find("beep") != std::string_view::npos;
        at += line.size();
    }

    ConsoleRig console;
    ScriptCommands scripted(console.console);
    ScriptRunner& runner = scripted.scripts;
    runner.start(ScriptName, 0, &console.wire);
    for (int prompt = 0; prompt < PromptsToTheRunner && runner.scriptRunning(); ++prompt) {
        runner.promptArrived();
    }
    for (const std::string& command : console.host.commands) {
        require(asked.count(command) == 1, "every shell command is asked for by a line");
    }
    require(console.host.sleeps.empty() || saysSleep, "no sleep unless a line says sleep");
    require(console.host.beeps == 0 || saysBeep, "no beep unless a line says beep");
    runner.stopAll();
    require(runner.script() == nullptr && runner.callerCount() == 0, "the scripts are let go");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzing::confineOpensToScratchFolder(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::writeScratchFile(ScriptName, data, size);
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    runOneByOne(file);
    runAsTheConsoleDoes(file);
    return 0;
}
