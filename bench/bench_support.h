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

// Deterministic bytes of every value, for data that must arrive unchanged.

// Seconds from the first byte of `command` among the bytes the target
// received to the last byte of the last `ending` among those it sent.
bool wireSpan(const std::vector<sim::TranscriptEntry>& transcript, const std::string& command,
              const std::string& ending, double& seconds);

}  // namespace bench
