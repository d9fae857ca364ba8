#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The long options of unattended runs, and --strict-rts. Each takes its
// value as the next argument or after '=' (--log FILE, --log=FILE).
struct UnattendedOptions {
    std::string logPath;  // empty: no log
    bool logTimestamps = false;
    bool batch = false;
    // 0: no limit.
    std::int64_t timeoutMs = 0;
    bool reconnect = false;
    // --strict-rts: a dsave makes each RTS pulse before it reads on.
    bool strictRts = false;
    // --expect and --fail-on, each as often as given: regular expressions
    // (ECMAScript) searched for in each line the target prints.
    std::vector<std::string> expectPatterns;
    std::vector<std::string> failOnPatterns;
};

// --timeout takes whole seconds, 1 to this many (about 31 years).
inline constexpr std::int64_t LongestTimeoutSeconds = 1'000'000'000;

// Reads the long options; false, with a one-line reason in error, for a
// missing or bad value or options that do not go together. hasScript tells
// whether the arguments name a script file.
bool parseUnattendedOptions(int argc, const char* const* argv, bool hasScript,
                            UnattendedOptions& options, std::string& error);

// Whether an argument is a long option whose value is the next argument:
// that value is no script file and no -p or -b.
bool takesNextArgument(const char* argument);
