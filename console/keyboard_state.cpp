#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "console/chords.h"
#include "console/console.h"
#include "console/fits_target.h"
#include "console/host_commands.h"
#include "platform/file_names.h"

namespace {

bool isPrefix(int ch) { return ch == keys::PrefixZero || ch == keys::PrefixExtended; }

bool isAsking(ConsoleState state) {
    return state == AskLoad || state == AskAuto || state == AskDsave || state == AskDload;
}

template <typename Row, std::size_t N>
const Row* rowFor(const Row (&rows)[N], ConsoleState state) {
    for (const Row& row : rows) {
        if (row.state == state) return &row;
    }
    return nullptr;
}

}  // namespace

void Console::openPrompt(const char* prompt, ConsoleState next) {
    print(prompt);
    clearLine();
    state = next;
}

void Console::onKey(int ch) {
    if (isAsking(state)) {
        editLine(ch);
        if (ch == keys::Enter) finishArgumentLine();
    } else if (state == Typing) {
        sendChar(ch);
        if (ch == keys::Escape) state = AtPrompt;
    } else if (const PrefixWait* wait = rowFor(PrefixWaits, state)) {
        if (isPrefix(ch)) {
            state = wait->stage;
            return;
        }
        sendChar(ch);
        // Enter at the prompt sends a command line: the target has the line.
        state = state == AtPrompt && ch == keys::Enter ? Typing : AtPrompt;
    } else if (const ChordStage* stage = rowFor(ChordStages, state)) {
        takeScanCode(*stage, ch);
    }
    // Transferring, QuitRequested: keys change nothing.
}

void Console::takeScanCode(const ChordStage& stage, int ch) {
    if (isPrefix(ch) && stage.ignoresFurtherPrefix) return;
    for (const ChordRow& row : ChordRows) {
        if (row.state != stage.state || row.scanCode != ch) continue;
        switch (row.action) {
        case ChordAction::ShowHelp: showHelp(); break;
        case ChordAction::Ask: openPrompt(row.prompt, row.next); break;
        case ChordAction::Go: state = row.next; break;
        }
        return;
    }
    if (stage.sendsOtherKeys) sendChar(ch);
    state = AtPrompt;
}

void Console::finishArgumentLine() {
    // The parsed copy ends at the NUL the editor stored (or at a 0 byte typed
    // into the line). Paths take a run of non-blank characters, as long as
    // the line allows.
    char path[sizeof line];
    std::uint32_t address = 0;
    unsigned long long length = 0;
    bool parsed = false;
    switch (state) {
    case AskLoad:
        parsed = std::sscanf(line, "%999s", path) == 1;
        if (parsed) commands_->load(platform::typedFileName(path).c_str(), port);
        break;
    case AskAuto:
        parsed = std::sscanf(line, "%999s", path) == 1;
        // A script that did not start hands back once more here.
        if (parsed && !commands_->startScript(platform::typedFileName(path).c_str(), 0, port)) {
            handBack();
        }
        break;
    case AskDsave:
        parsed = std::sscanf(line, "%999s %8x %llx", path, &address, &length) == 3;
        if (parsed && !fitsTarget(length)) {
            refuse("invalid length\n");
        } else if (parsed) {
            commands_->dsave(platform::typedFileName(path).c_str(), address,
                             static_cast<std::uint32_t>(length), port);
        }
        break;
    case AskDload:
        parsed = std::sscanf(line, "%999s %8x", path, &address) == 2;
        if (parsed) commands_->dload(platform::typedFileName(path).c_str(), address, port);
        break;
    default:
        break;
    }
    if (!parsed) handBack();
}
