#include "app/command_line.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace {

// Options that take a value.
constexpr std::string_view LogOption = "--log";
constexpr std::string_view TimeoutOption = "--timeout";
constexpr std::string_view ExpectOption = "--expect";
constexpr std::string_view FailOnOption = "--fail-on";

bool wantsValue(std::string_view name) {
    return name == LogOption || name == TimeoutOption || name == ExpectOption || name == FailOnOption;
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

bool takesNextArgument(const char* argument) { return wantsValue(argument); }

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
        const bool needsValue = wantsValue(name);
        if (needsValue && !hasValue) {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!needsValue && hasValue &&
                   (name == "--log-timestamps" || name == "--batch" || name == "--reconnect")) {
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
        } else if (name == ExpectOption) {
            options.expectPatterns.emplace_back(value);
        } else if (name == FailOnOption) {
            options.failOnPatterns.emplace_back(value);
        } else if (name == "--log-timestamps") {
            options.logTimestamps = true;
        } else if (name == "--batch") {
            options.batch = true;
        } else if (name == "--reconnect") {
            options.reconnect = true;
        }
        // Other long options are left to the rest of the command line.
    }
    if (options.batch && !hasScript) error = "--batch needs a script file";
    if (options.timeoutMs != 0 && !options.batch) error = "--timeout is for --batch runs";
    if (options.reconnect && !options.batch) error = "--reconnect is for --batch runs";
    if (!options.failOnPatterns.empty() && !options.batch) error = "--fail-on is for --batch runs";
    if (!options.expectPatterns.empty() && !options.batch) error = "--expect is for --batch runs";
    // Without a time limit a line that never comes would hold the run for good.
    if (!options.expectPatterns.empty() && options.batch && options.timeoutMs == 0) {
        error = "--expect needs --timeout";
    }
    if (options.logTimestamps && options.logPath.empty()) error = "--log-timestamps needs --log";
    return error.empty();
}
