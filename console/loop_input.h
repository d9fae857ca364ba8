#pragma once

#include <cstdint>

#include "platform/deadline.h"

class Keyboard;
class SerialPort;

// What the console loop reads from the port in one pass. Small on purpose:
// prompt detection and the NUL rule work per chunk.
inline constexpr std::int32_t ChunkSize = 10;

// The console loop's port side and its idle wait: bytes are taken as soon as
// they are there, without waiting for more, and the loop sleeps until a key
// or a byte arrives, so that neither waits on the other's time-out.
class LoopInput {
public:
    LoopInput(Keyboard& keyboard, SerialPort& port);

    // A chunk to hand on: the count of bytes put in chunk (ChunkSize room),
    // 0 for an empty chunk (the line has been silent for a whole read's
    // time-out, or the port failed), or -1 when there is nothing to hand on.
    std::int32_t takeChunk(char* chunk);
    // Sleeps until a key or port output may be there, or until the loop has
    // something to do without them (an empty chunk due, a key decoder's
    // time running out, a termination request to look at).
    void wait(bool watchPort, bool emptyChunkMatters);

private:
    Keyboard& keyboard_;
    SerialPort& port_;
    // When the line counts as silent if nothing comes before.
    platform::Deadline silentAt_;
    // A port that failed is left alone until then, as a failed read would
    // have waited out its time-out.
    platform::Deadline retryAt_;
};
