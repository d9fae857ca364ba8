#pragma once

// What an xterm sends for the keys the console knows. A lone ESC is not here:
// it only counts as the ESC key after a pause, see ConsoleProcess::sendEscape.
#include <string_view>

namespace e2e::keys {

inline constexpr std::string_view F1 = "\x1bOP";
inline constexpr std::string_view F2 = "\x1bOQ";
inline constexpr std::string_view F3 = "\x1bOR";
inline constexpr std::string_view F4 = "\x1bOS";
inline constexpr std::string_view F5 = "\x1b[15~";
inline constexpr std::string_view F9 = "\x1b[20~";
inline constexpr std::string_view F10 = "\x1b[21~";
inline constexpr std::string_view Up = "\x1b[A";
inline constexpr std::string_view Down = "\x1b[B";
inline constexpr std::string_view Right = "\x1b[C";
inline constexpr std::string_view Left = "\x1b[D";
inline constexpr std::string_view Enter = "\r";
inline constexpr std::string_view Backspace = "\x7f";
// Alt+digit: ESC and the digit in one write.
inline constexpr std::string_view Alt0 = "\x1b" "0";
inline constexpr std::string_view Alt1 = "\x1b" "1";
inline constexpr std::string_view Alt2 = "\x1b" "2";

}  // namespace e2e::keys
