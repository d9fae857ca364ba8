// The command line: the bytes cut at NULs are the arguments after the
// program's name.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "fuzz/require.h"
#include "fuzz/user_input_checks.h"

namespace {

bool blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::vector<std::string> argumentsOf(std::string_view bytes) {
    std::vector<std::string> arguments{"tolvanis"};
    if (bytes.empty()) return arguments;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
        arguments.emplace_back(bytes.substr(start, end - start));
        if (end == bytes.size()) break;
        start = end + 1;
    }
    return arguments;
}

// "%d" over at most 99 characters; none when out of 32 bits.
std::optional<std::int32_t> baudOf(std::string_view text) {
    text = text.substr(0, 99);
    std::size_t at = 0;
    while (at < text.size() && blank(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const std::size_t digitsStart = at;
    std::int64_t value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > (std::int64_t{1} << 32)) return std::nullopt;
    }
    if (at == digitsStart) return std::nullopt;
    if (negative) value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

namespace fuzzing {

StartupSettings checkCommandLine(std::string_view bytes) {
    const std::vector<std::string> arguments = argumentsOf(bytes);
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(arguments.size());

    StartupSettings settings;
    applyArguments(argc, argv.data(), settings);

    std::string port = "COM1";
    std::int32_t baud = 115200;
    std::optional<std::string> script;
    InformationRequest request = InformationRequest::None;
    bool optionValue = false;
    bool strictRts = false;
    bool strictRtsWithValue = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);  // up to the argument's end
        if (request == InformationRequest::None) {
            if (argument == "--help") request = InformationRequest::Help;
            if (argument == "--version") request = InformationRequest::Version;
            if (argument == "--list") request = InformationRequest::List;
        }
        // The value of an option that takes one is neither a script nor a -p or -b.
        if (optionValue) {
            optionValue = false;
        } else if (argument == "--log" || argument == "--timeout" || argument == "--expect" ||
                   argument == "--fail-on") {
            optionValue = true;
        } else if (argument == "--strict-rts") {
            strictRts = true;
        } else if (argument.starts_with("--strict-rts=")) {
            strictRtsWithValue = true;
        } else if (argument.empty() || argument[0] != '-') {
            script = std::string(argument);
        } else if (argument.size() > 1 && argument[1] == 'p') {
            port = std::string(argument.substr(2));
        } else if (argument.size() > 1 && argument[1] == 'b') {
            if (const auto value = baudOf(argument.substr(2))) baud = *value;
        }
    }
    require(settings.portName == port, "-p names the port, whole");
    require(settings.baudRate == baud, "-b sets the baud rate when it is a 32-bit number");
    require(settings.hasScript == script.has_value() && settings.scriptName == script.value_or(""),
            "the last argument without a dash names the script, whole (option values aside)");
    require(findInformationRequest(argc, argv.data()) == request,
            "--help, --version and --list are found wherever they stand");
    UnattendedOptions options;
    std::string error;
    const bool parsed = parseUnattendedOptions(argc, argv.data(), settings.hasScript, options, error);
    require(!parsed || options.strictRts == strictRts,
            "--strict-rts, and only it, asks for strict RTS pulses (option values aside)");
    require(!(parsed && strictRtsWithValue), "--strict-rts takes no value");
    return settings;
}

}  // namespace fuzzing
