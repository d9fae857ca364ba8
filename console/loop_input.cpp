#include "console/loop_input.h"

#include "platform/input_wait.h"
#include "platform/keyboard.h"
#include "serial/line_timeouts.h"
#include "serial/serial_port.h"

namespace {

using platform::Deadline;

// A whole read's time-out of a silent line: what an empty chunk stands for.
Deadline silenceFromNow() {
    const serial::ReadTimeouts& read = serial::lineTimeouts.read;
    return Deadline::after(read.perByte * ChunkSize + read.constant);
}

// The termination signals only set a flag, and one that lands just before
// the wait does not end it: an idle wait looks at the flag this often.
constexpr platform::milliseconds SignalCheck(100);

}  // namespace

LoopInput::LoopInput(Keyboard& keyboard, SerialPort& port)
    : keyboard_(keyboard), port_(port), silentAt_(silenceFromNow()), retryAt_(Deadline::after({})) {}

std::int32_t LoopInput::takeChunk(char* chunk) {
    if (port_.waitHandle() < 0) {
        // A port with nothing to wait on is paced by its read's own time-outs.
        const std::int32_t count = port_.read(chunk, ChunkSize);
        return count < 0 ? 0 : count;
    }
    if (!retryAt_.passed()) {
        return -1;
    }
    const std::int32_t count = port_.readWaiting(chunk, ChunkSize);
    if (count > 0) {
        silentAt_ = silenceFromNow();
        return count;
    }
    if (count < 0) {
        // Asked again at once it would fail again at once.
        retryAt_ = silenceFromNow();
        silentAt_ = retryAt_;
        return 0;
    }
    if (silentAt_.passed()) {
        silentAt_ = silenceFromNow();
        return 0;
    }
    return -1;
}

void LoopInput::wait(bool watchPort, bool emptyChunkMatters) {
    Deadline until = Deadline::after(SignalCheck);
    if (const auto due = keyboard_.dueBy()) {
        until = Deadline::earliest(until, *due);
    }
    // An empty chunk only matters to a prompt split across two reads; the
    // rest of the time the silent line is slept through.
    if (watchPort && emptyChunkMatters) {
        until = Deadline::earliest(until, silentAt_);
    }
    std::intptr_t handles[2] = {keyboard_.waitHandle(), -1};
    if (watchPort && retryAt_.passed()) {
        handles[1] = port_.waitHandle();
    } else if (watchPort) {
        until = Deadline::earliest(until, retryAt_);
    }
    platform::waitForInput(handles, 2, until);
}
