#include <cstdint>
#include <cstdio>

#include "console/console.h"
#include "console/hex_field.h"
#include "console/host_commands.h"

namespace {

bool isPrefix(int ch) { return ch == keys::PrefixZero || ch == keys::PrefixExtended; }

}  // namespace

void Console::openPrompt(const char* prompt, ConsoleState next) {
    print(prompt);
    clearLine();
    state = next;
}

void Console::onKey(int ch) {
    switch (state) {
    case AtPrompt:
        if (isPrefix(ch)) {
            state = KeyPrefix;
        } else {
            sendChar(ch);
            if (ch == keys::Enter) {
                state = Typing;
            }
        }
        break;

    case Typing:
        sendChar(ch);
        if (ch == keys::Escape) {
            state = AtPrompt;
        }
        break;

    case KeyPrefix:
        switch (ch) {
        case keys::F1: showHelp(); break;
        case keys::F3: openPrompt("AUTO <file>:", AskAuto); break;
        case keys::F4: openPrompt("LOAD <file>:", AskLoad); break;
        case keys::F9: state = F9Armed; break;
        case keys::F10: state = F10Armed; break;
        default: state = AtPrompt; break;  // a lone function key is swallowed
        }
        break;

    case F10Armed:
    case F9Armed:
        if (isPrefix(ch)) {
            state = state == F10Armed ? F10KeyPrefix : F9KeyPrefix;
        } else {
            sendChar(ch);
            state = AtPrompt;
        }
        break;

    case F10KeyPrefix:
        switch (ch) {
        case keys::PrefixZero:
        case keys::PrefixExtended: break;  // still waiting for the scan code
        case keys::F1: showHelp(); break;
        case keys::F2: state = QuitRequested; break;
        case keys::F4: openPrompt("DSAVE <file> <addr> <length>:", AskDsave); break;
        case keys::F9: state = F9Armed; break;
        case keys::F10: state = F10Armed; break;
        default:
            // After a chord head an unknown key goes out as its scan code.
            sendChar(ch);
            state = AtPrompt;
            break;
        }
        break;

    case F9KeyPrefix:
        switch (ch) {
        case keys::F1: showHelp(); break;
        case keys::F4: openPrompt("DLOAD <file> <addr>:", AskDload); break;
        case keys::F9: state = F9Armed; break;
        case keys::F10: state = F10Armed; break;
        default:
            sendChar(ch);
            state = AtPrompt;
            break;
        }
        break;

    case AskLoad:
    case AskAuto:
    case AskDsave:
    case AskDload:
        editLine(ch);
        if (ch == keys::Enter) {
            finishArgumentLine();
        }
        break;

    default:
        break;  // Transferring, QuitRequested: keys change nothing
    }
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
        if (parsed) commands_->load(path, port);
        break;
    case AskAuto:
        parsed = std::sscanf(line, "%999s", path) == 1;
        // A script that did not start hands back once more here.
        if (parsed && !commands_->startScript(path, 0, port)) handBack();
        break;
    case AskDsave:
        parsed = std::sscanf(line, "%999s %8x %llx", path, &address, &length) == 3;
        if (parsed && !fitsTarget(length)) {
            refuse("invalid length\n");
        } else if (parsed) {
            commands_->dsave(path, address, static_cast<std::uint32_t>(length), port);
        }
        break;
    case AskDload:
        parsed = std::sscanf(line, "%999s %8x", path, &address) == 2;
        if (parsed) commands_->dload(path, address, port);
        break;
    default:
        break;
    }
    if (!parsed) handBack();
}
