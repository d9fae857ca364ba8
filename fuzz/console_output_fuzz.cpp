// Any bytes from the target, cut into the chunks of 0 to 10 bytes that the
// console loop reads, through the console's prompt tracking.
//
// Input layout, repeated: one control byte, then the chunk. The control
// byte's value modulo 11 is the chunk's length; its bit 7 puts the console
// in Typing before the chunk, so that a chunk without a prompt is seen to
// leave the state alone.
//
// The rules: a chunk's text ends at its first NUL byte; ">>" in the text
// means the prompt; so does a text starting with '>' right after a chunk
// whose first '>' was its last byte. Each chunk sits in a heap block of its
// exact size, so a look past its end is an ASan report.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "tests/support/console_rig.h"
#include "fuzz/require.h"

using fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ConsoleRig rig;
    rig.console.state = Typing;
    bool split = false;  // the model's promptSplit
    std::string printed;

    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t control = data[at++];
        const std::size_t length = std::min<std::size_t>(control % 11, size - at);
        if (control & 0x80) rig.console.state = Typing;
        const ConsoleState before = rig.console.state;

        // A block of exactly the chunk's size (malloc(0) for an empty one).
        std::unique_ptr<char, decltype(&std::free)> chunk(
            static_cast<char*>(std::malloc(length)), &std::free);
        require(length == 0 || chunk != nullptr, "a chunk's block is allocated");
        if (length > 0) std::memcpy(chunk.get(), data + at, length);
        at += length;

        rig.console.takeChunk(chunk.get(), static_cast<std::int32_t>(length));

        const std::string_view whole(chunk.get(), length);
        const std::string_view text = whole.substr(0, whole.find('\0'));
        printed += text;
        const bool prompt = text.find(">>") != std::string_view::npos ||
                            (split && !text.empty() && text[0] == '>');
        require(rig.console.state == (prompt ? AtPrompt : before),
                "the state turns to AtPrompt exactly at a prompt");
        split = length > 0 && text.find('>') == length - 1;
        require(rig.console.promptSplit == split, "promptSplit marks a chunk ending in its first '>'");
        require(rig.screen.text == printed, "the screen shows each chunk's text up to a NUL");
    }
    require(rig.wire.written.empty() && rig.commands.calls.empty(),
            "the target's output alone sends and runs nothing");
    return 0;
}
