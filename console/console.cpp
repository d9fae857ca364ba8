#include "console/console.h"
#include "console/session_watch.h"

#include <algorithm>
#include <cstring>

#include "console/host_commands.h"
#include "console/loop_input.h"
#include "platform/keyboard.h"
#include "platform/screen.h"
#include "platform/terminal.h"
#include "serial/serial_port.h"

char printBuffer[1000];

namespace {

// Keys handled in one pass before the port is looked at again: a pasted page
// goes out at once but does not hold back the target's output meanwhile.
constexpr int KeysPerPass = 32;
// Pieces from the port in one pass: about 80 bytes, 7 ms of output at 115200
// baud, before keys are looked at again.
constexpr int PiecesPerPass = 8;

// What a console runs before the program hands it its commands.
class NoCommands final : public HostCommands {
public:
    bool load(const char*, SerialPort*) override { return false; }
    bool dload(const char*, std::uint32_t, SerialPort*) override { return false; }
    bool dsave(const char*, std::uint32_t, std::uint32_t, SerialPort*) override { return false; }
    bool startScript(const char*, std::int32_t, SerialPort*) override { return false; }
    void promptArrived() override {}
    void stopScripts() override {}
};

NoCommands noCommands;

}  // namespace

Console::Console(Keyboard& keyboard, Screen& screen, HostServices& host)
    : keyboard_(keyboard), screen_(screen), host_(host), commands_(&noCommands) {}

Console::~Console() = default;

void Console::useCommands(HostCommands& commands) { commands_ = &commands; }

void Console::show(const char* text, std::size_t count) {
    if (count == 0) return;
    screen_.write(text, count);
    atLineStart_ = text[count - 1] == '\n';
}

void Console::print(const char* text) {
    flushOutput();
    show(text, std::strlen(text));
}

void Console::printOnFreshLine(const char* text) {
    flushOutput();
    if (!atLineStart_) show("\n", 1);
    print(text);
}

void Console::flushOutput() {
    if (!pendingOutput_.empty()) {
        show(pendingOutput_.data(), pendingOutput_.size());
        pendingOutput_.clear();
    }
}

std::int32_t Console::sendChar(int code) {
    const auto byte = static_cast<unsigned char>(code & 0xFF);
    return port->write(&byte, 1);
}

void Console::handBack() {
    sendChar(keys::Enter);
    state = Typing;
}

bool Console::refuse(const char* message) {
    print(message);
    handBack();
    return false;
}

bool Console::refuseAfterReturn(const char* message) {
    handBack();
    print(message);
    return false;
}

void Console::run(SerialPort* portIn, bool hasScript, const char* scriptName) {
    state = AtPrompt;
    port = portIn;
    if (hasScript) {
        commands_->startScript(scriptName, 0, port);
    }
    LoopInput input(keyboard_, *port);
    for (;;) {
        // Keys first, as they come, then whatever the port has.
        bool busy = false;
        const bool takeKeys = state == Transferring || !promptPending();
        for (int taken = 0; takeKeys && taken < KeysPerPass && keyboard_.keyWaiting(); ++taken) {
            const int key = keyboard_.readKey();
            if (key != Keyboard::NoMoreKeys) {
                onKey(key);
            }
            busy = true;
        }
        if (state != Transferring) {
            busy = takePort(input) || busy;
        }
        if (watch != nullptr && port->lost() && !watch->portLost(*this)) {
            break;
        }
        if (state == QuitRequested || platform::terminationRequested() ||
            (watch != nullptr && watch->runOver(*this))) {
            break;
        }
        if (!busy) {
            input.wait(state != Transferring, promptSplit, takeKeys);
        }
    }
    commands_->stopScripts();
}

bool Console::takePort(LoopInput& input) {
    // While bytes keep coming, a few chunks' worth in one pass.
    bool took = false;
    for (int piece = 0; piece < PiecesPerPass && state != Transferring; ++piece) {
        char chunk[ChunkSize];
        const ChunkPiece taken = input.takeChunk(chunk);
        if (taken.count < 0) break;
        takePiece(chunk, taken.count, taken.chunkEnds);
        took = true;
        // A port without a wait handle reads with its time-outs: once a pass.
        if (taken.count == 0 || !input.takesWaiting()) break;
    }
    flushOutput();
    return took;
}

void Console::takeChunk(const char* bytes, std::int32_t count) {
    if (chunkCount_ > 0) {
        takePiece(nullptr, 0, true);
    }
    takePiece(bytes, count, true);
    flushOutput();
}

void Console::takePiece(const char* bytes, std::int32_t count, bool chunkEnds) {
    const std::int32_t pieceStart = chunkCount_;
    const std::int32_t kept = std::min(count, ChunkSize - chunkCount_);
    if (kept > 0) {
        std::memcpy(chunk_ + chunkCount_, bytes, static_cast<std::size_t>(kept));
        chunkCount_ += kept;
    }
    // The chunk's text ends at a NUL byte from the target; the rest of the
    // chunk is neither printed nor looked at.
    chunk_[chunkCount_] = '\0';
    const auto textLength = static_cast<std::int32_t>(std::strlen(chunk_));
    if (textLength > chunkPrinted_) {
        pendingOutput_.append(chunk_ + chunkPrinted_, static_cast<std::size_t>(textLength - chunkPrinted_));
        chunkPrinted_ = textLength;
    }
    // A log still keeps every byte the target sent, in its place.
    const std::int32_t shownOfPiece = std::max(textLength - pieceStart, 0);
    if (count > shownOfPiece) {
        flushOutput();
        screen_.keepUnshown(bytes + shownOfPiece, static_cast<std::size_t>(count - shownOfPiece));
    }
    if (chunkEnds) {
        testChunk();
        chunkCount_ = chunkPrinted_ = 0;
    }
}

bool Console::promptPending() const {
    const std::size_t textLength = std::strlen(chunk_);
    return chunkCount_ > 0 && textLength > 0 &&
           (std::strstr(chunk_, ">>") != nullptr || chunk_[textLength - 1] == '>' ||
            (chunk_[0] == '>' && promptSplit));
}

void Console::testChunk() {
    // What a script line does (a shell command, an echo) follows the text.
    flushOutput();
    // F10 F2 quits even when a prompt comes in the same pass: the user asked
    // to leave, and nothing of a script runs any more.
    const bool quitting = state == QuitRequested;
    if (!quitting && std::strstr(chunk_, ">>") != nullptr) {
        state = AtPrompt;
        commands_->promptArrived();
    }
    if (!quitting && chunk_[0] == '>' && promptSplit) {
        commands_->promptArrived();
        state = AtPrompt;
    }
    // The first half of a prompt split across two reads: a chunk whose only
    // '>' is its last byte.
    const char* firstMark = std::strchr(chunk_, '>');
    promptSplit = firstMark != nullptr && chunkCount_ > 0 && firstMark - chunk_ == chunkCount_ - 1;
}
