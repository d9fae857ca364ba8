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
    : keyboard_(keyboard),
      port_(port),
      silentAt_(silenceFromNow()),
      retryAt_(Deadline::after({})),
      chunkTotal_(retryAt_),
      chunkEndsAt_(retryAt_) {}

bool LoopInput::takesWaiting() const { return port_.waitHandle() >= 0; }

ChunkPiece LoopInput::takeChunk(char* chunk) {
    if (!takesWaiting()) {
        // A port with nothing to wait on is paced by its read's own time-outs.
        const std::int32_t count = port_.read(chunk, ChunkSize);
        return {count < 0 ? 0 : count, true};
    }
    if (chunkCount_ > 0 && chunkEndsAt_.passed()) {
        chunkCount_ = 0;
        return {0, true};
    }
    if (!retryAt_.passed()) {
        return {-1, true};
    }
    const std::int32_t count = port_.readWaiting(chunk, ChunkSize - chunkCount_);
    if (count > 0) {
        silentAt_ = silenceFromNow();
        if (chunkCount_ == 0) {
            chunkTotal_ = serial::lineTimeouts.read.total(ChunkSize);
        }
        chunkCount_ += count;
        const bool full = chunkCount_ == ChunkSize;
        chunkEndsAt_ = Deadline::earliest(chunkTotal_, Deadline::after(serial::lineTimeouts.read.interval));
        chunkCount_ = full ? 0 : chunkCount_;
        return {count, full};
    }
    if (count < 0) {
        // Asked again at once it would fail again at once.
        retryAt_ = silenceFromNow();
        silentAt_ = retryAt_;
        chunkCount_ = 0;
        return {0, true};
    }
    if (chunkCount_ == 0 && silentAt_.passed()) {
        silentAt_ = silenceFromNow();
        return {0, true};
    }
    return {-1, true};
}

void LoopInput::wait(bool watchPort, bool emptyChunkMatters, bool watchKeys) {
    Deadline until = Deadline::after(SignalCheck);
    const auto due = keyboard_.dueBy();
    if (due && watchKeys) {
        until = Deadline::earliest(until, *due);
    }
    // An empty chunk only matters to a prompt split across two reads; the
    // rest of the time the silent line is slept through.
    if (watchPort && emptyChunkMatters) {
        until = Deadline::earliest(until, silentAt_);
    }
    // The chunk being assembled ends even if nothing more comes.
    if (watchPort && chunkCount_ > 0) {
        until = Deadline::earliest(until, chunkEndsAt_);
    }
    // Keys held back are not waited for: they would end the wait at once.
    std::intptr_t handles[2] = {watchKeys ? keyboard_.waitHandle() : -1, -1};
    if (watchPort && retryAt_.passed()) {
        handles[1] = port_.waitHandle();
    } else if (watchPort) {
        until = Deadline::earliest(until, retryAt_);
    }
    platform::waitForInput(handles, 2, until);
}
