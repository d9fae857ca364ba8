#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "platform/keyboard.h"
#include "platform/pipe_reader_win32.h"

// The keyboard of a Windows console: standard input's key events, turned into
// key codes with translateKeyEvent. When standard input is a pipe or a file
// instead, its bytes are keys as they come; a pipe that cannot be looked
// into is read ahead by a thread of its own.
class ConsoleKeyboard final : public Keyboard {
public:
    ConsoleKeyboard();
    bool keyWaiting() override;
    int readKey() override;
    // The console's input handle, signalled while events wait (keys, or
    // other events that keyWaiting() takes and drops); -1 for a pipe or a
    // file, which cannot be waited on together with the port.
    std::intptr_t waitHandle() const override;
    bool inputEnded() override;

private:
    enum class Source { Console, Pipe, ReadAhead, Stream };

    // Takes what standard input holds now, without waiting; true when that
    // gave at least one code.
    bool takeWaiting();
    bool takeConsoleEvents();
    bool takePipeBytes();
    bool takeReadAheadBytes();
    bool takeStreamBytes();
    // Waits up to timeoutMs for standard input to hold something.
    void waitForInput(std::uint32_t timeoutMs);

    std::intptr_t input_;
    Source source_ = Source::Stream;
    bool ended_ = false;
    std::deque<int> codes_;
    std::unique_ptr<platform::PipeReader> readAhead_;
};
