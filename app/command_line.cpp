#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace {

// Every long option of the program, so that one list says which take a
// value and which are ours when they stand where a value should.
struct LongOption {
    enum Kind { Value, Flag, Information };
    std::string_view name;
    Kind kind;
};
constexpr std::string_view LogOption = "--log";
constexpr std::string_view TimeoutOption = "--timeout";
constexpr std::string_view ExpectOption = "--expect";
constexpr std::string_view FailOnOption = "--fail-on";
constexpr std::array<LongOption, 11> LongOptions{{
    {LogOption, LongOption::Value},
    {TimeoutOption, LongOption::Value},
    {ExpectOption, LongOption::Value},
    {FailOnOption, LongOption::Value},
    {"--log-timestamps", LongOption::Flag},
    {"--batch", LongOption::Flag},
    {"--reconnect", LongOption::Flag},
    {"--strict-rts", LongOption::Flag},
    // Answered before any of the others are read (see findInformationRequest).
    {"--help", LongOption::Information},
    {"--version", LongOption::Information},
    {"--list", LongOption::Information},
}};

const LongOption* findOption(std::string_view name) {
    const auto found = std::find_if(LongOptions.begin(), LongOptions.end(),
                                    [name](const LongOption& option) { return option.name == name; });
    return found == LongOptions.end() ? nullptr : &*found;
}

bool wantsValue(std::string_view name) {
    const LongOption* option = findOption(name);
    return option != nullptr && option->kind == LongOption::Value;
}

// An argument that is itself one of our options: as the value of an option
// before it, it is a value the user forgot (--log --batch), not a file name.
// A pattern may well begin with -p or -b; a file name or a number does not.
bool isOurOption(std::string_view option, std::string_view argument) {
    const bool pattern = option == ExpectOption || option == FailOnOption;
    if (!pattern && argument.size() >= 2 && argument[0] == '-' &&
        (argument[1] == 'p' || argument[1] == 'b')) {
        return true;
    }
    return findOption(argument.substr(0, argument.find('='))) != nullptr;
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

// One option and its value (empty for those that take none); false, with
// the reason in error, for a value that cannot be.
bool takeOption(std::string_view name, std::string_view value, UnattendedOptions& options,
                std::string& error) {
    if (name == LogOption) {
        if (value.empty()) error = "--log needs a file name";
        options.logPath = std::string(value);
    } else if (name == TimeoutOption) {
        if (!parseSeconds(value, options.timeoutMs)) {
            error = "--timeout needs whole seconds from 1 to " + std::to_string(LongestTimeoutSeconds) +
                    ", not \"" + std::string(value) + "\"";
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
    } else if (name == "--strict-rts") {
        options.strictRts = true;
    }
    // Other long options are left to the rest of the command line.
    return error.empty();
}

// The options that hold only together; the reason, or empty.
std::string combinationError(const UnattendedOptions& options, bool hasScript) {
    std::string error;
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
    return error;
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
        const LongOption* option = findOption(name);
        const LongOption::Kind kind = option != nullptr ? option->kind : LongOption::Information;
        if (kind == LongOption::Value && !hasValue) {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return false;
            }
            if (isOurOption(name, argv[i + 1])) {
                error = std::string(name) + (name == LogOption ? " needs a file name" : " needs a value");
                return false;
            }
            value = argv[++i];
        } else if (kind == LongOption::Flag && hasValue) {
            error = std::string(name) + " takes no value";
            return false;
        }
        if (!takeOption(name, value, options, error)) return false;
    }
    error = combinationError(options, hasScript);
    return error.empty();
}
