// The verdict of a batch run from the target's lines, fed as a port hands
// them over: in pieces, with any line ends.
#include "console/output_verdicts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Verdicts {
    explicit Verdicts(std::vector<std::string> expected, std::vector<std::string> failing = {}) {
        std::string error;
        EXPECT_TRUE(verdicts.setPatterns(expected, failing, error)) << error;
        verdicts.onFailure = [this](const std::string& message) { failures.push_back(message); };
    }
    void take(const std::string& bytes) { verdicts.take(bytes.data(), bytes.size()); }

    OutputVerdicts verdicts;
    std::vector<std::string> failures;
};

TEST(OutputVerdicts, EachLineIsJudgedWholeWithItsEndsStripped) {
    Verdicts run({"^PASS \\d+$", "^done$"}, {"FAIL$"});
    run.take("boot\r\nPAS");
    run.take("S 12\r");
    EXPECT_FALSE(run.verdicts.allExpectedSeen()) << "one of two seen";
    EXPECT_EQ(run.verdicts.unseenText(), "--expect \"^done$\" not seen\n");
    run.take("\ndone\n\nother\r\n");
    EXPECT_TRUE(run.verdicts.allExpectedSeen()) << "seen once is seen for good";
    EXPECT_TRUE(run.failures.empty());

    run.take("RESULT: F");
    run.take("AIL\r\nFAIL\r\n");
    ASSERT_EQ(run.failures.size(), 1u) << "told once";
    EXPECT_EQ(run.failures[0], "--fail-on \"FAIL$\" matched the line: RESULT: FAIL\n");
}

TEST(OutputVerdicts, ALineWithoutAnEndIsJudgedInPieces) {
    Verdicts run({}, {"^FAIL"});
    EXPECT_TRUE(run.verdicts.allExpectedSeen()) << "failing patterns are not expected";
    run.take("FAIL" + std::string(OutputVerdicts::LongestLine - 5, '.'));
    EXPECT_TRUE(run.failures.empty()) << "the line may go on";
    run.take(".");
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_EQ(run.failures[0].size(), std::string("--fail-on \"^FAIL\" matched the line: \n").size() + 200)
        << "the end of a long line";
}

TEST(OutputVerdicts, APatternThatIsNoRegularExpressionIsRefused) {
    OutputVerdicts verdicts;
    std::string error;
    EXPECT_FALSE(verdicts.setPatterns({"ok"}, {"(unclosed"}, error));
    EXPECT_EQ(error.find("--fail-on \"(unclosed\" is no valid regular expression: "), 0u) << error;
}

}  // namespace
