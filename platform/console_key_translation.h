#pragma once

#include <cstdint>
#include <deque>

// Key events of a Windows console, turned into the console's key codes: a
// character is its byte, a function or cursor key a prefix (0 or 224) and a
// scan code. Free of Windows headers, so that it is checked on every host.
namespace platform {

// The fields of a console key event that the translation reads.
struct ConsoleKeyEvent {
    bool keyDown = false;
    std::uint16_t repeatCount = 1;
    std::uint16_t virtualKey = 0;
    // The character in the console's input code page; 0 for keys without one.
    unsigned char character = 0;
    std::uint32_t controlKeys = 0;
};

// The virtual-key codes and modifier flags the translation knows, with the
// values the console API gives them.
namespace vk {
inline constexpr std::uint16_t Tab = 0x09;
inline constexpr std::uint16_t Escape = 0x1B;
inline constexpr std::uint16_t PageUp = 0x21;
inline constexpr std::uint16_t PageDown = 0x22;
inline constexpr std::uint16_t End = 0x23;
inline constexpr std::uint16_t Home = 0x24;
inline constexpr std::uint16_t Left = 0x25;
inline constexpr std::uint16_t Up = 0x26;
inline constexpr std::uint16_t Right = 0x27;
inline constexpr std::uint16_t Down = 0x28;
inline constexpr std::uint16_t Insert = 0x2D;
inline constexpr std::uint16_t Delete = 0x2E;
inline constexpr std::uint16_t Digit0 = 0x30;
inline constexpr std::uint16_t Digit9 = 0x39;
inline constexpr std::uint16_t LetterA = 0x41;
inline constexpr std::uint16_t LetterZ = 0x5A;
inline constexpr std::uint16_t F1 = 0x70;
inline constexpr std::uint16_t F10 = 0x79;
inline constexpr std::uint16_t F11 = 0x7A;
inline constexpr std::uint16_t F12 = 0x7B;
}  // namespace vk

namespace modifier {
inline constexpr std::uint32_t RightAlt = 0x0001;
inline constexpr std::uint32_t LeftAlt = 0x0002;
inline constexpr std::uint32_t RightCtrl = 0x0004;
inline constexpr std::uint32_t LeftCtrl = 0x0008;
inline constexpr std::uint32_t Shift = 0x0010;
}  // namespace modifier

// Appends the codes of one event to codes; key releases add nothing, and
// neither do keys without a code (a lone Shift, say).
void translateKeyEvent(const ConsoleKeyEvent& event, std::deque<int>& codes);

}  // namespace platform
