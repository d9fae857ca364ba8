#include "tests/support/e2e_session.h"

#include "tests/support/e2e_keys.h"

namespace e2e {

std::string textOf(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

ConsoleOnTarget::ConsoleOnTarget(sim::Options targetOptions) : target_(std::move(targetOptions)) {}

bool ConsoleOnTarget::start(std::int32_t baud, const std::vector<std::string>& extraArguments) {
    if (!target_.start()) return false;
    std::vector<std::string> arguments{portArgument(), "-b" + std::to_string(baud)};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    return console_.start(arguments) && waitForPrompt(0);
}

std::string ConsoleOnTarget::receivedByTarget() const {
    return textOf(target_.bytes(sim::Direction::ToTarget));
}

std::size_t ConsoleOnTarget::receivedCount() const { return receivedByTarget().size(); }

bool ConsoleOnTarget::waitForTarget(std::string_view text, milliseconds timeout,
                                    std::size_t from) const {
    return target_.waitUntil(
        [&] {
            const std::string received = receivedByTarget();
            return from <= received.size() && received.find(text, from) != std::string::npos;
        },
        timeout);
}

bool ConsoleOnTarget::waitForPrompt(std::size_t from, milliseconds timeout) const {
    return console_.waitForScreen(">>", timeout, from);
}

std::optional<int> ConsoleOnTarget::quit(milliseconds timeout) {
    // A prompt read in the same pass as the chord overrides it.
    console_.waitForQuiet(timeout);
    std::string chord(keys::F10);
    chord += keys::F2;
    if (!console_.sendKeys(chord)) return std::nullopt;
    return console_.waitForExit(timeout);
}

}  // namespace e2e
