#include "app/command_line.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace {

// Options that take a value.
constexpr std::string_view LogOption = "--log";
constexpr std::string_view TimeoutOption = "--timeout";

// An argument that is itself one of our options: as the value of an option
// before it, it is a value the user forgot (--log --batch), not a file name.
bool isOurOption(std::string_view argument) {
    if (argument.size() >= 2 && argument[0] == '-' && (argument[1] == 'p' || argument[1] == 'b')) {
        return true;
    }
    const std::string_view name = argument.substr(0, argument.find('='));
    for (const std::string_view option : {LogOption, TimeoutOption, std::string_view("--log-timestamps"),
                                          std::string_view("--batch"), std::string_view("--reconnect"),
                                          std::string_view("--help"), std::string_view("--version"),
                                          std::string_view("--list"), std::string_view("--strict-rts")}) {
        if (name == option) return true;
    }
    return false;
}

bool parseSeconds(std::string_view text, std::int64_t& milliseconds) {
    std::int64_t seconds = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || status != std::errc() || end != text.data() + text.size() || seconds < 1 ||
        seconds > LongestTimeoutSeconds) {
        return false;
    }
    milliseconds = seconds * 1000;
    return true;
}

}  // namespace

bool takesNextArgument(const char* argument) {
    return argument == LogOption || argument == TimeoutOption;
}

bool parseUnattendedOptions(int argc, const char* const* argv, bool hasScript,
                            UnattendedOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view name = argv[i];
        if (!name.starts_with("--")) continue;
        std::string_view value;
        bool hasValue = false;
        if (const auto equals = name.find('='); equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        const bool wantsValue = name == LogOption || name == TimeoutOption;
        if (wantsValue && !hasValue) {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return false;
            }
            if (isOurOption(argv[i + 1])) {
                error = std::string(name) + (name == LogOption ? " needs a file name" : " needs a value");
                return false;
            }
            value = argv[++i];
        } else if (!wantsValue && hasValue &&
                   (name == "--log-timestamps" || name == "--batch" || name == "--reconnect" ||
                    name == "--strict-rts")) {
            error = std::string(name) + " takes no value";
            return false;
        }
        if (name == LogOption) {
            if (value.empty()) {
                error = "--log needs a file name";
                return false;
            }
            options.logPath = std::string(value);
        } else if (name == TimeoutOption) {
            if (!parseSeconds(value, options.timeoutMs)) {
                error = "--timeout needs whole seconds from 1 to " +
                        std::to_string(LongestTimeoutSeconds) + ", not \"" + std::string(value) + "\"";
                return false;
            }
        } else if (name == "--log-timestamps") {
            options.logTimestamps = true;
        } else if (name == "--batch") {
            options.batch = true;
        } else if (name == "--reconnect") {
            options.reconnect = true;
        } else if (name == "--strict-rts") {
            options.strictRts = true;
        }
        // Other long options are left to the rest of the command line.
    }
    if (options.batch && !hasScript) error = "--batch needs a script file";
    if (options.timeoutMs != 0 && !options.batch) error = "--timeout is for --batch runs";
    if (options.logTimestamps && options.logPath.empty()) error = "--log-timestamps needs --log";
    return error.empty();
}
