// The four argument prompts (F4, F3, F9 F4, F10 F4): the bytes are typed as
// keys up to the first Enter (Enter follows if none). The command gets the
// first word of the line and the numbers after it as "%999s %8x %llx" reads
// them (a length that does not fit in 32 bits is refused), or nothing runs
// and a carriage return goes to the target.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/console_rig.h"
#include "fuzz/require.h"
#include "fuzz/user_input_checks.h"

namespace {

bool blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The line the editor holds after the keys: backspace takes one back, at
// most 999 characters are kept, Enter ends it.
std::string typedLine(std::string_view keys) {
    std::string line;
    for (const char key : keys) {
        if (key == '\r') break;
        if (key == '\b') {
            if (!line.empty()) line.pop_back();
        } else if (line.size() < 999) {
            line += key;
        }
    }
    return line;
}

struct Reader {
    std::string_view text;
    std::size_t at = 0;

    void skipBlanks() {
        while (at < text.size() && blank(text[at])) ++at;
    }
    std::optional<std::string> word() {
        skipBlanks();
        const std::size_t start = at;
        while (at < text.size() && !blank(text[at])) ++at;
        if (at == start) return std::nullopt;
        return std::string(text.substr(start, at - start));
    }
    // "%x" as the C library reads it: a sign, a 0 that may be followed by x
    // (taken even with no digit after it), hex digits; width counts them
    // all. A value past 64 bits is the largest.
    std::optional<std::uint64_t> hex(std::size_t width) {
        skipBlanks();
        const std::size_t end = at + std::min(text.size() - at, width);
        bool negative = false;
        if (at < end && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
        bool got = false;
        if (at < end && text[at] == '0') {
            got = true;
            ++at;
            if (at < end && (text[at] == 'x' || text[at] == 'X')) ++at;
        }
        std::uint64_t value = 0;
        bool overflow = false;
        while (at < end && std::isxdigit(static_cast<unsigned char>(text[at]))) {
            const char c = text[at++];
            const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                          : (c | 0x20) - 'a' + 10;
            overflow = overflow || value > (std::numeric_limits<std::uint64_t>::max() >> 4);
            value = value << 4 | static_cast<std::uint64_t>(digit);
            got = true;
        }
        if (!got) return std::nullopt;
        if (overflow) value = std::numeric_limits<std::uint64_t>::max();
        else if (negative) value = 0 - value;
        return value;
    }
};

struct Prompt {
    std::vector<int> chord;
    ConsoleState asking;
    const char* shown;
};

std::optional<std::string> expectedCall(ConsoleState asking, const std::string& line) {
    Reader reader{std::string_view(line.c_str())};  // the text ends at a typed NUL
    const std::optional<std::string> path = reader.word();
    if (!path) return std::nullopt;
    switch (asking) {
    case AskLoad: return "load " + *path;
    case AskAuto: return "auto " + *path + " 0";
    case AskDload: {
        const auto address = reader.hex(8);
        if (!address) return std::nullopt;
        return "dload " + *path + " " + RecordingCommands::hex(static_cast<std::uint32_t>(*address));
    }
    default: {
        const auto address = reader.hex(8);
        if (!address) return std::nullopt;
        const auto length = reader.hex(std::string::npos);
        if (!length || *length > 0xFFFFFFFFu) return std::nullopt;
        return "dsave " + *path + " " + RecordingCommands::hex(static_cast<std::uint32_t>(*address)) +
               " " + RecordingCommands::hex(static_cast<std::uint32_t>(*length));
    }
    }
}

}  // namespace

namespace fuzzing {

void checkPrompts(std::string_view keys) {
    const Prompt prompts[] = {
        {{0, 62}, AskLoad, "LOAD <file>:"},
        {{0, 61}, AskAuto, "AUTO <file>:"},
        {{0, 67, 0, 62}, AskDload, "DLOAD <file> <addr>:"},
        {{0, 68, 0, 62}, AskDsave, "DSAVE <file> <addr> <length>:"},
    };
    for (const Prompt& prompt : prompts) {
        ConsoleRig rig;
        for (const int key : prompt.chord) rig.console.onKey(key);
        require(rig.console.state == prompt.asking, "the chord opens its prompt");
        require(rig.screen.text == prompt.shown, "the prompt is shown");
        for (std::size_t i = 0; i < keys.size() && rig.console.state == prompt.asking; ++i) {
            rig.console.onKey(static_cast<unsigned char>(keys[i]));
            if (keys[i] == '\r') break;
        }
        if (keys.find('\r') == std::string_view::npos) rig.console.onKey('\r');

        const std::optional<std::string> call = expectedCall(prompt.asking, typedLine(keys));
        if (call) {
            require(rig.commands.calls.size() == 1 && rig.commands.calls[0] == *call,
                    "the command gets the line's word and numbers");
            require(rig.wire.written.empty(), "a command that ran sends nothing itself");
        } else {
            require(rig.commands.calls.empty(), "a line that does not parse runs nothing");
            require(rig.wire.written == "\r" && rig.console.state == Typing,
                    "a line that does not parse sends a carriage return");
        }
    }
}

}  // namespace fuzzing
