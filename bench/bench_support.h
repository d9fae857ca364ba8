#pragma once

// Shared pieces of the benchmark programs: what the kernel tells about a
// process, command-line options, and the printed table.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_target.h"

namespace e2e {
class ConsoleProcess;
}

namespace bench {

// User plus system CPU time of a running process, all its threads.
std::optional<double> cpuSeconds(pid_t pid);
// Peak resident memory of a running process (VmHWM), in KiB.
std::optional<long> peakMemoryKiB(pid_t pid);

double secondsBetween(std::chrono::steady_clock::time_point from,
                      std::chrono::steady_clock::time_point to);
double median(std::vector<double> values);

struct Options {
    bool quick = false;
};
// --quick and --help; false (after printing the usage) on anything else.
bool parseOptions(int argc, char** argv, const char* usage, Options& options);

// A plain text table: a header row, then rows, columns padded to fit.
class Table {
public:
    explicit Table(std::vector<std::string> header) : rows_{std::move(header)} {}
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void print() const;

private:
    std::vector<std::vector<std::string>> rows_;
};

std::string fixed(double value, int decimals);

// Seconds from the first byte of `command` among the bytes the target
// received to the last byte of the last `ending` among those it sent.
bool wireSpan(const std::vector<sim::TranscriptEntry>& transcript, const std::string& command,
              const std::string& ending, double& seconds);

// Every gap from a byte the target sent to the console's next byte: in a
// transfer, one per block (the reply before the next block, or the block's
// checksum before its reply) and a few for the exchange around them.
std::vector<double> turnarounds(const std::vector<sim::TranscriptEntry>& transcript);

// The host's own part of those gaps, where the byte after the target's
// started a burst: from the target's write of its last byte to the moment
// the host's next byte was first seen on the line, before the line's pacing
// and the target's wake-up to take it.
std::vector<double> hostTurnarounds(const std::vector<sim::TranscriptEntry>& transcript,
                                    const std::vector<sim::BurstStart>& starts);

// Median and 99th percentile in microseconds, "-" for none.
std::string medianAndP99Us(std::vector<double> seconds);

// How a timed command ended, for the last column of a table.
std::string dataOutcome(bool finished, bool failedOnScreen, bool intact);

// A command typed at a prompt, timed from its Enter to the line end that
// closes its progress stars, with the console's CPU and memory meanwhile.
struct CommandTiming {
    bool finished = false;
    double consoleSeconds = 0;
    double cpuSeconds = -1;
    long peakKiB = -1;
    // Where the closing line end stands on the console's screen.
    std::size_t ended = 0;
};
// Presses Enter; the command's first output is `opening` (found after
// `mark`), its stars end at the next line end, within `limit`.
CommandTiming pressEnterAndTime(e2e::ConsoleProcess& console, std::size_t mark,
                                const std::string& opening, std::chrono::milliseconds limit);

}  // namespace bench
