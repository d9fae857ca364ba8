// Key to wire: the time from a key written to the console's keyboard to its
// byte arriving at the target, on a silent line. The console reads its port
// in 200 ms slices and looks at the keyboard between them, so a key waits
// for the slice under way: about 100 ms on average, 200 ms at worst.
#include <cstdio>
#include <random>
#include <thread>

#include "bench/bench_support.h"
#include "support/e2e_session.h"

namespace {

constexpr const char* usage =
    "usage: tolvanis-bench-keys [--quick]\n"
    "Key-to-wire latency over 50 keys (15 with --quick) on a silent line.\n";

// When the target received its byte number `index` (from 0).
std::optional<std::chrono::steady_clock::time_point> arrivalOfByte(const sim::SimTarget& target,
                                                                  std::size_t index) {
    std::optional<std::chrono::steady_clock::time_point> at;
    target.waitUntil(
        [&] {
            std::size_t count = 0;
            for (const sim::TranscriptEntry& entry : target.transcript()) {
                if (entry.direction != sim::Direction::ToTarget) continue;
                if (count++ == index) {
                    at = entry.at;
                    return true;
                }
            }
            return false;
        },
        e2e::eventTimeout);
    return at;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::parseOptions(argc, argv, usage, options)) return 2;
    const int samples = options.quick ? 15 : 50;

    e2e::ConsoleOnTarget session;
    if (!session.start()) {
        std::fprintf(stderr, "the console did not reach the monitor prompt\n");
        return 1;
    }
    // Keys come at random moments, so that they fall anywhere in the
    // console's read slice, as a user's do.
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause(0, 250);
    std::vector<double> latencies;
    std::size_t index = session.receivedCount();
    for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        const char key[2] = {char('a' + i % 26), '\0'};
        const auto pressed = std::chrono::steady_clock::now();
        if (!session.console().sendKeys(key)) break;
        const auto arrived = arrivalOfByte(session.target(), index++);
        if (!arrived) {
            std::fprintf(stderr, "key %d never reached the target\n", i + 1);
            return 1;
        }
        latencies.push_back(1000.0 * bench::secondsBetween(pressed, *arrived));
    }
    session.console().sendKeys("\r");

    double worst = 0;
    double best = latencies.empty() ? 0 : latencies.front();
    for (double latency : latencies) {
        worst = std::max(worst, latency);
        best = std::min(best, latency);
    }
    std::printf("Key to wire on a silent line (keyboard pty write to the target's receipt)\n\n");
    bench::Table table({"keys", "median ms", "best ms", "worst ms", "bound ms"});
    table.add({std::to_string(latencies.size()), bench::fixed(bench::median(latencies), 1),
               bench::fixed(best, 1), bench::fixed(worst, 1), "~200"});
    table.print();
    return 0;
}
