// CPU the console uses while nothing happens: on a silent line, and after
// its device has gone (a USB adapter pulled out), while it waits for the
// device to come back. Both should be near zero: the loop sleeps until a key
// or a byte arrives, and the wait for the device sleeps between its looks.
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "bench/bench_support.h"
#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"

namespace {

constexpr const char* usage =
    "usage: tolvanis-bench-idle [--quick]\n"
    "CPU time of the console over 10 s (3 s with --quick) on a silent line and\n"
    "with its device gone.\n";

struct Result {
    bool measured = false;
    double cpu = 0;
    double wall = 0;
    bool stillRunning = false;
};

Result measure(bool deviceGone, std::chrono::seconds span) {
    Result result;
    e2e::ConsoleOnTarget session;
    if (!session.start()) {
        std::fprintf(stderr, "the console did not reach the monitor prompt\n");
        return result;
    }
    if (deviceGone) session.target().closeMaster();
    // Let start-up and the last output settle before the span begins.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const pid_t pid = session.console().pid();
    const auto before = bench::cpuSeconds(pid);
    const auto from = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(span);
    const auto after = bench::cpuSeconds(pid);
    const auto to = std::chrono::steady_clock::now();
    if (!before || !after) return result;
    result.measured = true;
    result.cpu = *after - *before;
    result.wall = bench::secondsBetween(from, to);
    result.stillRunning = session.console().running();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::parseOptions(argc, argv, usage, options)) return 2;
    const std::chrono::seconds span(options.quick ? 3 : 10);

    std::printf("Idle CPU of the console (utime + stime from /proc, %.0f ms ticks)\n\n",
                1000.0 / double(sysconf(_SC_CLK_TCK)));
    bench::Table table({"case", "span s", "CPU s", "CPU %", "console still running"});
    bool allMeasured = true;
    for (const bool gone : {false, true}) {
        const Result result = measure(gone, span);
        const char* name = gone ? "device gone" : "silent line";
        if (!result.measured) {
            table.add({name, "-", "-", "-", "-"});
            allMeasured = false;
            continue;
        }
        table.add({name, bench::fixed(result.wall, 1), bench::fixed(result.cpu, 2),
                   bench::fixed(100.0 * result.cpu / result.wall, 2),
                   result.stillRunning ? "yes" : "no"});
    }
    table.print();
    return allMeasured ? 0 : 1;
}
