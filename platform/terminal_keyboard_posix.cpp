#include "platform/terminal_keyboard.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/terminal.h"

namespace {

// How long the rest of an escape sequence may take before a lone ESC counts
// as the ESC key. Terminals send a sequence in one write, so this only has to
// cover scheduling and a slow link.
constexpr platform::milliseconds SequenceWait(50);
// The signal handlers only set a flag, and a signal that lands just before
// poll() does not wake it: a blocking wait looks at the flag this often.
constexpr int SignalCheckMs = 100;

}  // namespace

// Only a terminal is decoded. Bytes from a pipe or a file are what a program
// or a test fed in on purpose; they go to the target exactly as they are.
TerminalKeyboard::TerminalKeyboard(int fd) : fd_(fd), decode_(isatty(fd) == 1) {}

bool TerminalKeyboard::haveKey() const {
    return decode_ ? decoder_.hasKey() : rawStart_ < rawEnd_;
}

int TerminalKeyboard::takeKey() {
    if (decode_) {
        return decoder_.nextKey();
    }
    return raw_[rawStart_++];
}

// Never blocks: an ESC that may begin a sequence counts as the ESC key only
// once its time is up, and waitHandle/dueBy let a caller sleep until then.
bool TerminalKeyboard::keyWaiting() {
    if (haveKey()) {
        return true;
    }
    if (ended_) {
        return false;
    }
    fill(0);
    if (decoder_.pending() && sequenceDue_.passed()) {
        decoder_.flush();
    }
    return haveKey();
}

std::intptr_t TerminalKeyboard::waitHandle() const {
    // An input that has ended reads as ready for ever; a wait on it would spin.
    return ended_ ? -1 : fd_;
}

std::optional<platform::Deadline> TerminalKeyboard::dueBy() const {
    if (decoder_.pending() && !ended_) {
        return sequenceDue_;
    }
    return std::nullopt;
}

bool TerminalKeyboard::inputEnded() {
    return !keyWaiting() && ended_;
}

int TerminalKeyboard::readKey() {
    while (!haveKey()) {
        if (ended_) {
            return NoMoreKeys;
        }
        if (decoder_.pending()) {
            settlePending();
            continue;
        }
        // Once the process is told to end, no more keys are waited for.
        if (platform::terminationRequested()) {
            return NoMoreKeys;
        }
        fill(SignalCheckMs);
    }
    return takeKey();
}

void TerminalKeyboard::settlePending() {
    while (decoder_.pending() && !ended_) {
        if (sequenceDue_.passed()) {
            decoder_.flush();
            return;
        }
        fill(sequenceDue_.leftMs());
        if (platform::terminationRequested()) {
            decoder_.flush();
            return;
        }
    }
}

void TerminalKeyboard::fill(int timeoutMs) {
    if (ended_ || (!decode_ && rawStart_ < rawEnd_)) {
        return;
    }
    pollfd input{fd_, POLLIN, 0};
    const int ready = poll(&input, 1, timeoutMs);
    if (ready <= 0) {
        return;  // nothing yet, or a signal: the caller looks again
    }
    unsigned char bytes[sizeof raw_];
    ssize_t count;
    do {
        count = ::read(fd_, bytes, sizeof bytes);
    } while (count < 0 && errno == EINTR && !platform::terminationRequested());
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (count <= 0) {
        // End of input, or a terminal that has gone (EIO after a hang-up):
        // no key will ever come, and polling it again would only spin.
        ended_ = true;
        decoder_.flush();
        if (decode_) platform::requestTermination();
        return;
    }
    if (!decode_) {
        rawStart_ = 0;
        rawEnd_ = static_cast<std::size_t>(count);
        for (ssize_t i = 0; i < count; ++i) {
            raw_[i] = bytes[i];
        }
        return;
    }
    for (ssize_t i = 0; i < count; ++i) {
        const bool wasPending = decoder_.pending();
        decoder_.feed(bytes[i]);
        if (!wasPending && decoder_.pending()) {
            sequenceDue_ = platform::Deadline::after(SequenceWait);
        }
    }
}
