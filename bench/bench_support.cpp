#include "bench/bench_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/support/e2e_console.h"
#include "tests/support/e2e_session.h"
#include "tests/support/e2e_keys.h"

namespace bench {

std::optional<double> cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) return std::nullopt;
    // The command name may hold blanks and parentheses; fields follow the last ')'.
    const std::size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(nameEnd + 1));
    std::string field;
    // Fields 3 .. 13, then utime (14) and stime (15).
    for (int i = 3; i <= 13; ++i) {
        if (!(fields >> field)) return std::nullopt;
    }
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    if (!(fields >> userTicks >> systemTicks)) return std::nullopt;
    return double(userTicks + systemTicks) / double(sysconf(_SC_CLK_TCK));
}

std::optional<long> peakMemoryKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return std::nullopt;
}

double secondsBetween(std::chrono::steady_clock::time_point from,
                      std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool parseOptions(int argc, char** argv, const char* usage, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            options.quick = true;
        } else {
            std::fputs(usage, std::strcmp(argv[i], "--help") == 0 ? stdout : stderr);
            return false;
        }
    }
    return true;
}

void Table::print() const {
    std::vector<std::size_t> widths;
    for (const auto& row : rows_) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        std::string line;
        for (std::size_t c = 0; c < rows_[r].size(); ++c) {
            const std::string& cell = rows_[r][c];
            // Names left, numbers right.
            const std::string pad(widths[c] - cell.size(), ' ');
            line += c == 0 ? cell + pad : pad + cell;
            if (c + 1 < rows_[r].size()) line += "  ";
        }
        std::puts(line.c_str());
        if (r == 0) {
            std::size_t total = 0;
            for (std::size_t w : widths) total += w + 2;
            std::puts(std::string(total > 2 ? total - 2 : 0, '-').c_str());
        }
    }
    std::fflush(stdout);
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

bool wireSpan(const std::vector<sim::TranscriptEntry>& transcript, const std::string& command,
              const std::string& ending, double& seconds) {
    std::vector<const sim::TranscriptEntry*> received;
    std::vector<const sim::TranscriptEntry*> sent;
    for (const sim::TranscriptEntry& entry : transcript) {
        (entry.direction == sim::Direction::ToTarget ? received : sent).push_back(&entry);
    }
    const auto find = [](const std::vector<const sim::TranscriptEntry*>& entries,
                         const std::string& text, bool last) -> const sim::TranscriptEntry* {
        const sim::TranscriptEntry* found = nullptr;
        for (std::size_t i = 0; i + text.size() <= entries.size(); ++i) {
            std::size_t k = 0;
            while (k < text.size() && entries[i + k]->byte == std::uint8_t(text[k])) ++k;
            if (k < text.size()) continue;
            found = entries[last ? i + text.size() - 1 : i];
            if (!last) break;
        }
        return found;
    };
    const sim::TranscriptEntry* start = find(received, command, false);
    const sim::TranscriptEntry* end = find(sent, ending, true);
    if (start == nullptr || end == nullptr) return false;
    seconds = secondsBetween(start->at, end->at);
    return true;
}

std::vector<double> turnarounds(const std::vector<sim::TranscriptEntry>& transcript) {
    std::vector<double> gaps;
    for (std::size_t i = 1; i < transcript.size(); ++i) {
        if (transcript[i - 1].direction == sim::Direction::FromTarget &&
            transcript[i].direction == sim::Direction::ToTarget) {
            gaps.push_back(secondsBetween(transcript[i - 1].at, transcript[i].at));
        }
    }
    return gaps;
}

std::vector<double> hostTurnarounds(const std::vector<sim::TranscriptEntry>& transcript,
                                    const std::vector<sim::BurstStart>& starts) {
    std::vector<double> gaps;
    for (const sim::BurstStart& start : starts) {
        if (start.index == 0 || start.index >= transcript.size()) continue;
        const sim::TranscriptEntry& before = transcript[start.index - 1];
        if (before.direction != sim::Direction::FromTarget) continue;
        gaps.push_back(secondsBetween(before.at, start.seen));
    }
    return gaps;
}

std::string medianAndP99Us(std::vector<double> seconds) {
    if (seconds.empty()) return "-";
    std::sort(seconds.begin(), seconds.end());
    const std::size_t p99 = std::min(seconds.size() - 1, (seconds.size() * 99 + 99) / 100 - 1);
    return fixed(1e6 * median(seconds), 0) + " / " + fixed(1e6 * seconds[p99], 0);
}

std::string dataOutcome(bool finished, bool failedOnScreen, bool intact) {
    if (!finished) return "did not finish";
    if (failedOnScreen) return "transfer failed";
    return intact ? "intact" : "CORRUPT";
}

CommandTiming pressEnterAndTime(e2e::ConsoleProcess& console, std::size_t mark,
                                const std::string& opening, std::chrono::milliseconds limit) {
    CommandTiming timing;
    const pid_t pid = console.pid();
    const auto cpuBefore = cpuSeconds(pid);
    const auto pressed = std::chrono::steady_clock::now();
    console.sendKeys(e2e::keys::Enter);
    const auto opened = console.findOnScreen(opening, e2e::eventTimeout, mark);
    if (!opened) return timing;
    const auto ended = console.findOnScreen("\r\n", limit, *opened + opening.size());
    const auto done = std::chrono::steady_clock::now();
    if (!ended) return timing;
    const auto cpuAfter = cpuSeconds(pid);
    const auto peak = peakMemoryKiB(pid);
    timing.finished = true;
    timing.consoleSeconds = secondsBetween(pressed, done);
    timing.cpuSeconds = cpuBefore && cpuAfter ? *cpuAfter - *cpuBefore : -1;
    timing.peakKiB = peak ? *peak : -1;
    timing.ended = *ended;
    return timing;
}

}  // namespace bench
