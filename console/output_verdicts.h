#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

// The verdict of an unattended run taken from what the target prints: each
// line of its output (line ends stripped) is searched for the expected
// patterns, all of which a good run shows, and the failing ones, any of which
// ends the run as failed. Patterns are ECMAScript regular expressions.
class OutputVerdicts {
public:
    // Whole lines beyond this are searched in pieces of this length.
    static constexpr std::size_t LongestLine = 4096;

    // Compiles the patterns; false, with the reason in error, for one that
    // is no valid regular expression.
    bool setPatterns(const std::vector<std::string>& expected, const std::vector<std::string>& failing,
                     std::string& error);
    bool empty() const { return expected_.empty() && failing_.empty(); }
    // Told once, with the text to show, when a line matches a failing pattern.
    std::function<void(const std::string&)> onFailure;

    // Bytes as the target sent them, in order, from whichever thread reads.
    void take(const char* bytes, std::size_t count);
    bool allExpectedSeen() const;
    // The expected patterns not seen so far, one a line, each line ended.
    std::string unseenText() const;

private:
    struct Pattern {
        std::string text;
        std::regex compiled;
        bool seen = false;
    };
    void judgeLine();

    std::vector<Pattern> expected_;
    std::vector<Pattern> failing_;
    mutable std::mutex mutex_;
    std::string line_;
    bool failed_ = false;
};
