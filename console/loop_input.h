#pragma once

#include <cstdint>

#include "platform/deadline.h"

class Keyboard;
class SerialPort;

// What the console loop reads from the port in one pass. Small on purpose:
// prompt detection and the NUL rule work per chunk.
inline constexpr std::int32_t ChunkSize = 10;

// What the loop hands on from the port in one pass: count bytes, 0 for none
// (with chunkEnds: an empty chunk, or the end of the chunk being assembled),
// -1 when there is nothing to hand on.
struct ChunkPiece {
    std::int32_t count = -1;
    bool chunkEnds = true;
};

// The console loop's port side and its idle wait: bytes are taken as soon as
// they are there, without waiting for more, and the loop sleeps until a key
// or a byte arrives, so that neither waits on the other's time-out. The
// pieces are grouped into the chunks a timed read would have formed (up to
// ChunkSize bytes, ended by the line's interval or total read time-out),
// which is what the prompt tests look at.
class LoopInput {
public:
    LoopInput(Keyboard& keyboard, SerialPort& port);

    // A piece to hand on, its bytes put in chunk (ChunkSize room). An empty
    // chunk stands for a line silent for a whole read's time-out, or a
    // failed port.
    ChunkPiece takeChunk(char* chunk);
    // False when the port has nothing to wait on and takeChunk() is its
    // timed read.
    bool takesWaiting() const;
    // Sleeps until a key (when watched) or port output may be there, or
    // until the loop has something to do without them (a chunk's end or an
    // empty chunk due, a key decoder's time running out, a termination
    // request to look at).
    void wait(bool watchPort, bool emptyChunkMatters, bool watchKeys = true);

private:
    Keyboard& keyboard_;
    SerialPort& port_;
    // When the line counts as silent if nothing comes before.
    platform::Deadline silentAt_;
    // A port that failed is left alone until then, as a failed read would
    // have waited out its time-out.
    platform::Deadline retryAt_;
    // The chunk being assembled: how many bytes it has, and when it ends if
    // no more come (a gap of the read's interval, or its total time-out).
    std::int32_t chunkCount_ = 0;
    platform::Deadline chunkTotal_;
    platform::Deadline chunkEndsAt_;
};
