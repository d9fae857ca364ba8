#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/console_keyboard_win32.h"
#include "tests/windows/win32_temp_folder.h"

namespace {

INPUT_RECORD keyRecord(bool down, WORD virtualKey, char character, WORD repeat = 1) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
    record.Event.KeyEvent.wRepeatCount = repeat;
    record.Event.KeyEvent.wVirtualKeyCode = virtualKey;
    record.Event.KeyEvent.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyA(virtualKey, 0));
    record.Event.KeyEvent.uChar.AsciiChar = character;
    return record;
}

std::vector<int> drain(Keyboard& keyboard) {
    std::vector<int> codes;
    while (keyboard.keyWaiting()) codes.push_back(keyboard.readKey());
    return codes;
}

// Key events put straight into the console's input buffer.
class ConsoleInput : public ::testing::Test {
protected:
    void SetUp() override {
        input = GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        if (!GetConsoleMode(input, &mode)) GTEST_SKIP() << "standard input is not a console";
        FlushConsoleInputBuffer(input);
    }
    void TearDown() override { FlushConsoleInputBuffer(input); }

    void put(const std::vector<INPUT_RECORD>& records) {
        DWORD written = 0;
        ASSERT_TRUE(WriteConsoleInputA(input, records.data(), static_cast<DWORD>(records.size()),
                                       &written));
        ASSERT_EQ(records.size(), written);
    }

    HANDLE input = nullptr;
};

TEST_F(ConsoleInput, KeyEventsBecomeCodesAndOtherEventsAreDropped) {
    ConsoleKeyboard keyboard;
    EXPECT_FALSE(keyboard.keyWaiting());

    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    focus.Event.FocusEvent.bSetFocus = TRUE;
    INPUT_RECORD mouse{};
    mouse.EventType = MOUSE_EVENT;
    mouse.Event.MouseEvent.dwButtonState = FROM_LEFT_1ST_BUTTON_PRESSED;
    INPUT_RECORD resize{};
    resize.EventType = WINDOW_BUFFER_SIZE_EVENT;
    resize.Event.WindowBufferSizeEvent.dwSize = {80, 25};
    put({focus, mouse, resize, keyRecord(false, 'Q', 'q'), keyRecord(true, VK_F1, 0),
         keyRecord(false, VK_F1, 0), keyRecord(true, 'A', 'a', 2), keyRecord(true, VK_UP, 0),
         keyRecord(true, VK_ESCAPE, 27)});

    EXPECT_EQ((std::vector<int>{0, 59, 'a', 'a', 224, 72, 27}), drain(keyboard));
    EXPECT_FALSE(keyboard.keyWaiting());
}

TEST_F(ConsoleInput, OnlyOtherEventsWaitingIsNoKey) {
    ConsoleKeyboard keyboard;
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    put({focus, keyRecord(false, 'A', 'a'), keyRecord(true, VK_SHIFT, 0)});
    EXPECT_FALSE(keyboard.keyWaiting());
    // ...and they were taken, so they do not hide later keys.
    DWORD waiting = 99;
    ASSERT_TRUE(GetNumberOfConsoleInputEvents(input, &waiting));
    EXPECT_EQ(0u, waiting);
}

TEST_F(ConsoleInput, ReadKeyWaitsForAKey) {
    ConsoleKeyboard keyboard;
    const auto started = std::chrono::steady_clock::now();
    std::thread typist([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        INPUT_RECORD focus{};
        focus.EventType = FOCUS_EVENT;
        put({focus});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        put({keyRecord(true, VK_F10, 0)});
    });
    const int first = keyboard.readKey();
    const auto waited = std::chrono::steady_clock::now() - started;
    typist.join();
    EXPECT_EQ(0, first);
    EXPECT_EQ(68, keyboard.readKey());
    EXPECT_GE(waited, std::chrono::milliseconds(200));
}

// Standard input taken from a pipe or a file for the life of a test.
class RedirectedInput {
public:
    explicit RedirectedInput(HANDLE handle) : saved_(GetStdHandle(STD_INPUT_HANDLE)) {
        SetStdHandle(STD_INPUT_HANDLE, handle);
    }
    ~RedirectedInput() { SetStdHandle(STD_INPUT_HANDLE, saved_); }
    RedirectedInput(const RedirectedInput&) = delete;
    RedirectedInput& operator=(const RedirectedInput&) = delete;

private:
    HANDLE saved_;
};

TEST(PipedInput, BytesAreKeysAsTheyComeUntilTheWriterCloses) {
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
    const RedirectedInput redirected(reader);
    ConsoleKeyboard keyboard;
    EXPECT_FALSE(keyboard.keyWaiting());

    const char bytes[] = {'a', 0, 27, '[', 'A', static_cast<char>(0xE0)};
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, bytes, sizeof bytes, &written, nullptr));
    EXPECT_EQ((std::vector<int>{'a', 0, 27, '[', 'A', 0xE0}), drain(keyboard));

    auto later = std::async(std::launch::async, [writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        DWORD count = 0;
        WriteFile(writer, "z", 1, &count, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        CloseHandle(writer);
    });
    EXPECT_EQ('z', keyboard.readKey());
    EXPECT_EQ(Keyboard::NoMoreKeys, keyboard.readKey());
    EXPECT_FALSE(keyboard.keyWaiting());
    later.get();
    CloseHandle(reader);
}

TEST(FileInput, TheFileIsReadToItsEnd) {
    TempFolder folder;
    ASSERT_TRUE(folder.ready());
    const std::string path = folder.file("keys.txt");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "dr\r", 3, &written, nullptr));
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    {
        const RedirectedInput redirected(file);
        ConsoleKeyboard keyboard;
        EXPECT_EQ((std::vector<int>{'d', 'r', '\r'}), drain(keyboard));
        EXPECT_EQ(Keyboard::NoMoreKeys, keyboard.readKey());
    }
    CloseHandle(file);
}

}  // namespace
