#pragma once

#include <cstdint>
#include <deque>
#include <memory>

namespace platform {

// Standard input that can be read but not looked into first (a pipe that
// PeekNamedPipe does not serve, as one from outside Wine): a thread reads it
// ahead and keeps what arrives, for the keyboard to take without waiting.
class PipeReader {
public:
    explicit PipeReader(std::intptr_t input);
    // Lets the thread go; it may sit in a read that only the writer or the
    // end of the process finishes.
    ~PipeReader();
    PipeReader(const PipeReader&) = delete;
    PipeReader& operator=(const PipeReader&) = delete;

    // Moves what has arrived into codes; false when nothing had.
    bool take(std::deque<int>& codes);
    // The input has ended (closed, or a read failed) and all of it was taken.
    bool ended() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace platform
