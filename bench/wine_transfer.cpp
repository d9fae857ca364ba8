#include "bench/wine_transfer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "bench/bench_support.h"
#include "sim/sim_target.h"
#include "tests/support/e2e_temp_folder.h"
#include "tests/windows/wine_session.h"

namespace bench {
namespace {

constexpr std::int32_t Baud = 921600;
constexpr std::uint32_t Address = 0x80010000;

struct WineRun {
    bool finished = false;
    bool failed = false;  // "transfer failed" on the screen
    bool intact = false;
    double wireSeconds = 0;
    long blocksConfirmed = 0;
};

WineRun runOnce(const wine::Prefix& prefix, const std::string& exe, std::size_t size,
                const std::vector<std::string>& extra, const std::string& name) {
    WineRun run;
    sim::Options options;
    options.baud = Baud;
    options.linkPath = prefix.comLink();
    sim::SimTarget target(options);
    if (!target.start()) return run;
    const std::string data = e2e::patternBytes(size, 29);
    target.writeMemory(Address, std::vector<std::uint8_t>(data.begin(), data.end()));

    const std::string folder = prefix.makeWorkFolder(name);
    char length[32];
    std::snprintf(length, sizeof length, "%zx", size);
    char address[32];
    std::snprintf(address, sizeof address, "%x", Address);
    wine::writeFile(folder + "/session.txt",
                    wine::windowsLines({"local dsave saved.bin " + std::string(address) + " " + length,
                                        "local quit"}));
    std::vector<std::string> arguments{std::filesystem::absolute(exe), "-pCOM1",
                                       "-b" + std::to_string(Baud)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("session.txt");
    wine::ConsoleProgram console(prefix, arguments, folder);
    if (!console.started()) return run;
    // Wine's start takes seconds; the line's own time, ten times over, and a minute.
    const auto limit = std::chrono::seconds(60) + std::chrono::milliseconds(size * 100 / (Baud / 1000));
    run.finished = console.waitUntil(
        [&] { return target.exchangesCompleted() + target.exchangesAborted() > 0; },
        std::chrono::duration_cast<std::chrono::milliseconds>(limit));
    if (!run.finished) return run;
    // The file is closed once the exchange has ended.
    console.waitUntil([&] { return wine::readFile(folder + "/saved.bin") == data; },
                      std::chrono::seconds(10));
    run.intact = wine::readFile(folder + "/saved.bin") == data;
    run.failed = console.waitForText("transfer failed", std::chrono::milliseconds(500));
    const auto sent = target.bytes(sim::Direction::ToTarget);
    run.blocksConfirmed = std::count(sent.begin(), sent.end(), 'Y');
    if (!wireSpan(target.transcript(), "BRD\r", "end binary\r", run.wireSeconds)) run.wireSeconds = 0;
    return run;
}

}  // namespace

int dsaveUnderWine(const std::string& exe, std::size_t size) {
    wine::Prefix prefix;
    if (!prefix.setUp()) {
        std::fprintf(stderr, "no Wine prefix: %s\n", prefix.error().c_str());
        return 1;
    }
    std::printf("dsave of %zu bytes by %s under Wine, the simulator pacing COM1 at %d baud.\n"
                "Wire time: first byte of \"BRD\\r\" to the last of \"end binary\\r\".\n\n",
                size, exe.c_str(), Baud);
    Table table({"run", "wire s", "KiB/s", "of baud/10", "data", "blocks confirmed"});
    bool good = true;
    const std::vector<std::pair<std::string, std::vector<std::string>>> runs{
        {"dsave", {}}, {"dsave --strict-rts", {"--strict-rts"}}};
    int index = 0;
    for (const auto& [label, extra] : runs) {
        const WineRun run = runOnce(prefix, exe, size, extra, "dsave" + std::to_string(index++));
        const bool timed = run.finished && run.wireSeconds > 0;
        table.add({label, timed ? fixed(run.wireSeconds, 2) : "-",
                   timed ? fixed(double(size) / 1024 / run.wireSeconds, 1) : "-",
                   timed ? fixed(100.0 * double(size) / run.wireSeconds / (Baud / 10.0), 2) + " %" : "-",
                   dataOutcome(run.finished, run.failed, run.intact),
                   std::to_string(run.blocksConfirmed)});
        good = good && run.intact;
    }
    table.print();
    return good ? 0 : 1;
}

}  // namespace bench
