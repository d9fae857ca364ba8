#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"

namespace {

struct Parsed {
    bool ok = false;
    UnattendedOptions options;
    StartupSettings settings;
    std::string error;
};

Parsed parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "tolvanis");
    Parsed parsed;
    const int count = static_cast<int>(arguments.size());
    applyArguments(count, arguments.data(), parsed.settings);
    parsed.ok = parseUnattendedOptions(count, arguments.data(), parsed.settings.hasScript,
                                       parsed.options, parsed.error);
    return parsed;
}

TEST(CommandLine, LongOptionsTakeTheirValueNextOrAfterAnEqualsSign) {
    const Parsed next = parse({"--log", "session.log", "-pCOM3", "--batch", "boot.txt", "--timeout",
                               "90", "--reconnect", "--log-timestamps", "--strict-rts"});
    ASSERT_TRUE(next.ok) << next.error;
    EXPECT_EQ(next.options.logPath, "session.log");
    EXPECT_TRUE(next.options.logTimestamps && next.options.batch && next.options.reconnect &&
                next.options.strictRts);
    EXPECT_EQ(next.options.timeoutMs, 90'000);
    // The values are neither the script nor a port.
    EXPECT_EQ(next.settings.scriptName, "boot.txt");
    EXPECT_EQ(next.settings.portName, "COM3");

    const Parsed equals = parse({"--log=a b.log", "--timeout=1000000000", "--batch", "s.txt"});
    ASSERT_TRUE(equals.ok) << equals.error;
    EXPECT_EQ(equals.options.logPath, "a b.log");
    EXPECT_EQ(equals.options.timeoutMs, 1'000'000'000'000);

    // A value that looks like a script is still the log's.
    const Parsed logOnly = parse({"--log", "run.txt"});
    ASSERT_TRUE(logOnly.ok);
    EXPECT_FALSE(logOnly.settings.hasScript);
    EXPECT_EQ(logOnly.options.timeoutMs, 0) << "no limit unless asked";
    EXPECT_FALSE(logOnly.options.strictRts) << "pulses beside the reads unless asked";
}

TEST(CommandLine, BadValuesAndLoneOptionsAreRefusedWithAReason) {
    for (const auto& arguments : std::vector<std::vector<const char*>>{
             {"--batch", "s", "--timeout", "0"},
             {"--batch", "s", "--timeout", "-1"},
             {"--batch", "s", "--timeout", "1.5"},
             {"--batch", "s", "--timeout", " 5"},
             {"--batch", "s", "--timeout=1000000001"},
             {"--batch", "s", "--timeout=99999999999999999999999"},
             {"--batch", "s", "--timeout"},
             {"--batch", "s", "--timeout="},
             {"--log"},
             {"--log="},
             {"--batch"},
             {"--batch=yes", "s"},
             {"--strict-rts=yes"},
             {"--timeout", "5", "s"},
             {"--log-timestamps", "s"},
         }) {
        const Parsed parsed = parse(arguments);
        EXPECT_FALSE(parsed.ok) << arguments.back();
        EXPECT_FALSE(parsed.error.empty()) << arguments.back();
    }
}

TEST(CommandLine, AnotherOptionOfOursIsNoValue) {
    for (const char* option : {"--log-timestamps", "--batch", "--timeout=5", "-pCOM3", "-b9600", "--list"}) {
        const Parsed log = parse({"--log", option, "s.txt"});
        EXPECT_FALSE(log.ok) << option;
        EXPECT_EQ(log.error, "--log needs a file name") << option;
    }
    const Parsed timeout = parse({"--batch", "s.txt", "--timeout", "--reconnect"});
    EXPECT_FALSE(timeout.ok);
    EXPECT_EQ(timeout.error, "--timeout needs a value");
    // Given with '=', the name is taken as written; other dash words are names.
    EXPECT_TRUE(parse({"--log=--batch"}).ok);
    EXPECT_EQ(parse({"--log", "-x.log"}).options.logPath, "-x.log");
    // A pattern may well begin like a port or a baud rate.
    const Parsed patterns =
        parse({"--batch", "s.txt", "--timeout=5", "--expect", "-pass", "--fail-on", "-bad"});
    ASSERT_TRUE(patterns.ok) << patterns.error;
    EXPECT_EQ(patterns.options.expectPatterns, std::vector<std::string>{"-pass"});
    EXPECT_EQ(patterns.options.failOnPatterns, std::vector<std::string>{"-bad"});
}

}  // namespace
