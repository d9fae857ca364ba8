#include "console/output_verdicts.h"

#include <algorithm>

namespace {

// How much of a failing line the message shows: its end.
constexpr std::size_t ShownLine = 200;

}  // namespace

bool OutputVerdicts::setPatterns(const std::vector<std::string>& expected,
                                 const std::vector<std::string>& failing, std::string& error) {
    const auto compile = [&](const std::vector<std::string>& texts, const char* option,
                             std::vector<Pattern>& into) {
        for (const std::string& text : texts) {
            try {
                into.push_back({text, std::regex(text, std::regex::ECMAScript), false});
            } catch (const std::regex_error& failure) {
                error = std::string(option) + " \"" + text + "\" is no valid regular expression: " +
                        failure.what();
                return false;
            }
        }
        return true;
    };
    return compile(expected, "--expect", expected_) && compile(failing, "--fail-on", failing_);
}

void OutputVerdicts::take(const char* bytes, std::size_t count) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) {
        const char byte = bytes[i];
        if (byte == '\n' || byte == '\r') {
            judgeLine();
            continue;
        }
        line_ += byte;
        if (line_.size() == LongestLine) judgeLine();
    }
}

void OutputVerdicts::judgeLine() {
    if (line_.empty()) return;
    for (Pattern& pattern : expected_) {
        pattern.seen = pattern.seen || std::regex_search(line_, pattern.compiled);
    }
    for (const Pattern& pattern : failing_) {
        if (failed_ || !std::regex_search(line_, pattern.compiled)) continue;
        failed_ = true;
        if (onFailure) {
            // The end of a long line, where its match most likely is.
            const std::size_t from = line_.size() > ShownLine ? line_.size() - ShownLine : 0;
            onFailure("--fail-on \"" + pattern.text + "\" matched the line: " + line_.substr(from) + "\n");
        }
    }
    line_.clear();
}

bool OutputVerdicts::allExpectedSeen() const {
    std::lock_guard lock(mutex_);
    return std::all_of(expected_.begin(), expected_.end(), [](const Pattern& p) { return p.seen; });
}

std::string OutputVerdicts::unseenText() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const Pattern& pattern : expected_) {
        if (!pattern.seen) text += "--expect \"" + pattern.text + "\" not seen\n";
    }
    return text;
}
