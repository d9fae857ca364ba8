#include "platform/console_keyboard_win32.h"

#include <windows.h>

#include <algorithm>

#include "platform/console_key_translation.h"
#include "platform/terminal.h"

namespace {

// The signal handlers only set a flag; a blocking wait looks at it this often.
constexpr DWORD SignalCheckMs = 100;
// A pipe cannot be waited on; it is looked at this often while a key is due.
constexpr DWORD PipeCheckMs = 20;
constexpr DWORD RecordsPerRead = 32;
constexpr DWORD BytesPerRead = 256;

static_assert(platform::vk::Escape == VK_ESCAPE && platform::vk::PageUp == VK_PRIOR &&
              platform::vk::PageDown == VK_NEXT && platform::vk::End == VK_END &&
              platform::vk::Home == VK_HOME && platform::vk::Left == VK_LEFT &&
              platform::vk::Up == VK_UP && platform::vk::Right == VK_RIGHT &&
              platform::vk::Down == VK_DOWN && platform::vk::Insert == VK_INSERT &&
              platform::vk::Delete == VK_DELETE && platform::vk::F1 == VK_F1 &&
              platform::vk::F10 == VK_F10 && platform::vk::F11 == VK_F11 &&
              platform::vk::F12 == VK_F12);
static_assert(platform::modifier::RightAlt == RIGHT_ALT_PRESSED &&
              platform::modifier::LeftAlt == LEFT_ALT_PRESSED &&
              platform::modifier::RightCtrl == RIGHT_CTRL_PRESSED &&
              platform::modifier::LeftCtrl == LEFT_CTRL_PRESSED &&
              platform::modifier::Shift == SHIFT_PRESSED);

HANDLE handleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

platform::ConsoleKeyEvent keyEventOf(const KEY_EVENT_RECORD& record) {
    platform::ConsoleKeyEvent event;
    event.keyDown = record.bKeyDown != FALSE;
    event.repeatCount = record.wRepeatCount;
    event.virtualKey = record.wVirtualKeyCode;
    event.character = static_cast<unsigned char>(record.uChar.AsciiChar);
    event.controlKeys = record.dwControlKeyState;
    return event;
}

// Whether the pipe can be looked into without reading it. A pipe from outside
// Wine (a Linux pipe) cannot; one whose writer has gone can, and is at its end.
bool canLookInto(HANDLE input) {
    DWORD available = 0;
    return PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) ||
           GetLastError() == ERROR_BROKEN_PIPE;
}

}  // namespace

ConsoleKeyboard::ConsoleKeyboard()
    : input_(reinterpret_cast<std::intptr_t>(GetStdHandle(STD_INPUT_HANDLE))) {
    const HANDLE input = handleOf(input_);
    DWORD mode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        ended_ = true;
    } else if (GetConsoleMode(input, &mode)) {
        source_ = Source::Console;
    } else if (GetFileType(input) == FILE_TYPE_PIPE) {
        source_ = canLookInto(input) ? Source::Pipe : Source::ReadAhead;
        if (source_ == Source::ReadAhead) readAhead_ = std::make_unique<platform::PipeReader>(input_);
    }
}

bool ConsoleKeyboard::keyWaiting() {
    if (!codes_.empty()) {
        return true;
    }
    return !ended_ && takeWaiting();
}

int ConsoleKeyboard::readKey() {
    while (codes_.empty()) {
        // Once the process is told to end, no more keys are waited for.
        if (ended_ || platform::terminationRequested()) {
            return NoMoreKeys;
        }
        if (!takeWaiting()) {
            waitForInput(SignalCheckMs);
        }
    }
    const int code = codes_.front();
    codes_.pop_front();
    return code;
}

bool ConsoleKeyboard::inputEnded() {
    return !keyWaiting() && ended_;
}

std::intptr_t ConsoleKeyboard::waitHandle() const {
    return source_ == Source::Console && !ended_ ? input_ : -1;
}

bool ConsoleKeyboard::takeWaiting() {
    switch (source_) {
    case Source::Console: return takeConsoleEvents();
    case Source::Pipe: return takePipeBytes();
    case Source::ReadAhead: return takeReadAheadBytes();
    case Source::Stream: return takeStreamBytes();
    }
    return false;
}

// Every waiting event is taken, so that mouse, focus and size events and key
// releases do not pile up in front of the keys.
bool ConsoleKeyboard::takeConsoleEvents() {
    const HANDLE input = handleOf(input_);
    INPUT_RECORD records[RecordsPerRead];
    while (codes_.empty()) {
        DWORD waiting = 0;
        if (!PeekConsoleInputA(input, records, RecordsPerRead, &waiting)) {
            ended_ = true;  // the console has gone
            platform::requestTermination();
            return false;
        }
        if (waiting == 0) {
            return false;
        }
        DWORD taken = 0;
        if (!ReadConsoleInputA(input, records, waiting, &taken)) {
            ended_ = true;
            platform::requestTermination();
            return false;
        }
        for (DWORD i = 0; i < taken; ++i) {
            if (records[i].EventType == KEY_EVENT) {
                platform::translateKeyEvent(keyEventOf(records[i].Event.KeyEvent), codes_);
            }
        }
    }
    return true;
}

bool ConsoleKeyboard::takePipeBytes() {
    const HANDLE input = handleOf(input_);
    DWORD available = 0;
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
        ended_ = true;  // the writer has closed its end
        return false;
    }
    if (available == 0) {
        return false;
    }
    unsigned char bytes[BytesPerRead];
    DWORD got = 0;
    if (!ReadFile(input, bytes, std::min(available, BytesPerRead), &got, nullptr) || got == 0) {
        ended_ = true;
        return false;
    }
    codes_.insert(codes_.end(), bytes, bytes + got);
    return true;
}

bool ConsoleKeyboard::takeReadAheadBytes() {
    if (readAhead_->take(codes_)) return true;
    ended_ = readAhead_->ended();
    return false;
}

// A file (or the NUL device) never blocks: whatever it holds is there now.
bool ConsoleKeyboard::takeStreamBytes() {
    unsigned char bytes[BytesPerRead];
    DWORD got = 0;
    if (!ReadFile(handleOf(input_), bytes, BytesPerRead, &got, nullptr) || got == 0) {
        ended_ = true;
        return false;
    }
    codes_.insert(codes_.end(), bytes, bytes + got);
    return true;
}

void ConsoleKeyboard::waitForInput(std::uint32_t timeoutMs) {
    if (ended_) {
        return;
    }
    if (source_ == Source::Console) {
        // The console handle is signalled while events are waiting.
        WaitForSingleObject(handleOf(input_), timeoutMs);
    } else if (source_ == Source::Pipe || source_ == Source::ReadAhead) {
        Sleep(std::min<DWORD>(timeoutMs, PipeCheckMs));
    }
}
