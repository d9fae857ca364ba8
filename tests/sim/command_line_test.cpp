#include <gtest/gtest.h>

#include <vector>

#include "sim/command_line.h"

namespace {

bool parse(std::vector<const char*> args, sim::CommandLine& result, std::string& error) {
    args.insert(args.begin(), "tolvanis-sim");
    return sim::parseCommandLine(int(args.size()), args.data(), result, error);
}

}  // namespace

TEST(SimCommandLine, ReadsEveryOption) {
    sim::CommandLine result;
    std::string error;
    ASSERT_TRUE(parse({"--baud", "230400", "--link=/tmp/x", "--nak-first", "2", "--bad-checksum-first=3",
                       "--silent-after-sent", "100", "--silent-after-received=0", "--noise", "--wrong-echo",
                       "--no-prompt-after-exchange", "--quiet"},
                      result, error))
        << error;
    EXPECT_EQ(result.options.baud, 230400);
    EXPECT_EQ(result.options.linkPath, "/tmp/x");
    EXPECT_EQ(result.options.faults.nakFirstBlocks, 2);
    EXPECT_EQ(result.options.faults.badChecksumFirstBlocks, 3);
    EXPECT_EQ(result.options.faults.silentAfterSentBytes, 100);
    EXPECT_EQ(result.options.faults.silentAfterReceivedBytes, 0);
    EXPECT_TRUE(result.options.faults.noiseAroundAcknowledgements);
    EXPECT_TRUE(result.options.faults.wrongEcho);
    EXPECT_TRUE(result.options.faults.noPromptAfterExchange);
    EXPECT_TRUE(result.quiet);
    EXPECT_FALSE(result.help);
}

TEST(SimCommandLine, DefaultsLeaveEverythingOff) {
    sim::CommandLine result;
    std::string error;
    ASSERT_TRUE(parse({}, result, error));
    EXPECT_EQ(result.options.baud, 0);
    EXPECT_EQ(result.options.faults.silentAfterSentBytes, -1);
    EXPECT_EQ(result.options.faults.silentAfterReceivedBytes, -1);
    EXPECT_TRUE(result.options.linkPath.empty());
}

TEST(SimCommandLine, RefusesBadArguments) {
    const std::vector<std::vector<const char*>> bad = {
        {"--baud"},          {"--baud", "fast"},  {"--baud", "-9600"}, {"--baud=99999999999"},
        {"--nak-first", "1x"}, {"--noise=1"},     {"--link="},          {"--colour"},
        {"port"},
    };
    for (const auto& args : bad) {
        sim::CommandLine result;
        std::string error;
        EXPECT_FALSE(parse(args, result, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimCommandLine, HelpExplainsTheSlowBaudLimit) {
    sim::CommandLine result;
    std::string error;
    ASSERT_TRUE(parse({"--help"}, result, error));
    EXPECT_TRUE(result.help);
    EXPECT_NE(sim::usageText().find("230400"), std::string::npos);
}
