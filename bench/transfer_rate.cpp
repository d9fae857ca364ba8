// Transfer throughput, driven through the console's keys as a user would:
// dload (F9 F4) and dsave (F10 F4) of 2 MiB against the simulated target.
// Paced runs measure the wire from the first byte of the exchange's command
// to the last byte of "end binary\r" in the target's transcript; unpaced
// runs measure the console's own cost.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "bench/pty_round_trip.h"
#include "bench/wine_transfer.h"
#include "bench/zmodem_run.h"
#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"
#include "tests/support/e2e_temp_folder.h"
#include "tests/support/ser2net_server.h"

namespace {

constexpr const char* usage =
    "usage: tolvanis-bench-transfer [--quick] [--unpaced] [--wine TOLVANIS.EXE]\n"
    "2 MiB dload at 230400 and 921600 baud, dsave at 115200 and 921600 baud,\n"
    "both unpaced (256 KiB each with --quick); then 1 MiB dload and dsave at\n"
    "230400 and 921600 baud through ser2net (rfc2217://) beside the local pty\n"
    "(128 KiB with --quick); and lrzsz's ZMODEM on an equal line at 921600 baud\n"
    "beside dload and dsave, when sz and rz are installed. A full run takes about\n"
    "ten minutes. --unpaced: the unpaced rows alone. --wine: instead, a 256 KiB\n"
    "dsave at 921600 baud by the Windows build under Wine, with and without\n"
    "--strict-rts.\n";

constexpr std::uint32_t Address = 0x80010000;
constexpr std::size_t BlockSize = 2048;
// Start byte, data, checksum, reply.
constexpr std::size_t WireBytesPerBlock = BlockSize + 3;

enum class Kind { Dload, Dsave };

struct Run {
    Kind kind;
    std::int32_t baud;  // 0: unpaced
    // Through a ser2net on 127.0.0.1 serving the target's pty over RFC 2217.
    bool overNetwork = false;
};

struct Result {
    bool finished = false;
    bool dataIntact = false;
    bool failedOnScreen = false;
    double wireSeconds = 0;  // paced runs only
    std::vector<double> turnarounds;  // paced runs only, seconds
    std::vector<double> hostTurnarounds;  // paced runs only, seconds
    double consoleSeconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
};

std::string hex(std::size_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%zx", value);
    return text;
}

// F9 F4 or F10 F4 and the command's line, left for Enter.
bool typeCommand(e2e::ConsoleProcess& console, bool load, const std::string& path, std::size_t size) {
    console.sendKeys(std::string(load ? e2e::keys::F9 : e2e::keys::F10) + std::string(e2e::keys::F4));
    if (!console.waitForScreen(load ? "DLOAD <file> <addr>:" : "DSAVE <file> <addr> <length>:",
                               e2e::eventTimeout)) {
        return false;
    }
    std::string line = path + " " + hex(Address);
    if (!load) line += " " + hex(size);
    const std::size_t mark = console.mark();
    console.sendKeys(line);
    return console.waitForScreen(line, e2e::eventTimeout, mark);
}

// The paced line's span and turnarounds, from the target's transcript.
void measureWire(const sim::SimTarget& target, bool load, Result& result) {
    const auto transcript = target.transcript();
    if (!bench::wireSpan(transcript, load ? "BWR\r" : "BRD\r", "end binary\r", result.wireSeconds)) {
        result.wireSeconds = 0;
    }
    result.turnarounds = bench::turnarounds(transcript);
    result.hostTurnarounds = bench::hostTurnarounds(transcript, target.burstStarts());
}

Result runTransfer(const Run& run, std::size_t size) {
    Result result;
    e2e::TempFolder folder;
    sim::Options targetOptions;
    targetOptions.baud = run.baud;
    targetOptions.linkPath = folder.file("line");
    e2e::ConsoleOnTarget session(targetOptions);
    e2e::Ser2net server(targetOptions.linkPath, folder.path());
    std::vector<std::string> arguments;
    if (run.overNetwork) {
        if (!server.start()) {
            std::fprintf(stderr, "%s\n", server.error().c_str());
            return result;
        }
        arguments.push_back("-p" + server.rfc2217Url());
    }
    const std::string data = e2e::patternBytes(size, run.kind == Kind::Dload ? 17 : 29);
    const std::string path = folder.file(run.kind == Kind::Dload ? "image.bin" : "saved.bin");
    if (run.kind == Kind::Dload) {
        if (!e2e::writeFile(path, data)) return result;
    } else {
        session.target().writeMemory(Address, std::vector<std::uint8_t>(data.begin(), data.end()));
    }
    if (!session.start(run.baud > 0 ? run.baud : 115200, arguments)) {
        std::fprintf(stderr, "the console did not reach the monitor prompt\n");
        return result;
    }
    e2e::ConsoleProcess& console = session.console();
    const bool load = run.kind == Kind::Dload;
    if (!typeCommand(console, load, path, size)) return result;

    const std::size_t mark = console.mark();
    session.target().clearTranscript();
    const double blocks = double((size + BlockSize - 1) / BlockSize);
    const double physicsSeconds = run.baud > 0 ? blocks * WireBytesPerBlock * 10.0 / run.baud : 0;
    const auto limit = std::chrono::milliseconds(std::int64_t(physicsSeconds * 1500) + 60000);
    // The line editor's own line end, then the one that closes the stars.
    const bench::CommandTiming timing = bench::pressEnterAndTime(console, mark, "\r\n", limit);
    if (!timing.finished) return result;
    result.finished = true;
    result.consoleSeconds = timing.consoleSeconds;
    result.cpuSeconds = timing.cpuSeconds;
    result.peakKiB = timing.peakKiB;
    session.waitForPrompt(timing.ended);
    result.failedOnScreen = console.screenSince(mark).find("transfer failed") != std::string::npos;

    if (load) {
        const auto memory = session.target().readMemory(Address, std::uint32_t(size));
        result.dataIntact = std::string(memory.begin(), memory.end()) == data;
    } else {
        result.dataIntact = e2e::readFile(path) == data;
    }
    if (run.baud > 0) measureWire(session.target(), load, result);
    return result;
}

std::string name(const Run& run) {
    return std::string(run.kind == Kind::Dload ? "dload" : "dsave") + " " +
           (run.baud > 0 ? std::to_string(run.baud) : std::string("unpaced")) +
           (run.overNetwork ? " rfc2217" : "");
}

std::string outcome(const Result& result) {
    return bench::dataOutcome(result.finished, result.failedOnScreen, result.dataIntact);
}

std::string ofBaud(const Result& result, std::size_t size, std::int32_t baud) {
    if (!result.finished || result.wireSeconds <= 0) return "-";
    return bench::fixed(100.0 * double(size) / result.wireSeconds / (baud / 10.0), 2) + " %";
}

// The same transfers on the local pty and through ser2net, one after the
// other in this run, so that the machine's load weighs on both alike.
bool compareWithNetwork(std::size_t size) {
    if (e2e::Ser2net::program().empty()) {
        std::printf("\nser2net is not installed: the network rows are skipped.\n");
        return true;
    }
    std::printf("\n%zu bytes on the local pty and through ser2net on 127.0.0.1 (rfc2217://),\n"
                "the target pacing the line; wire time as above, as a fraction of baud/10.\n\n",
                size);
    bench::Table table({"transfer", "local pty", "rfc2217", "difference", "goal", "data"});
    bool good = true;
    for (const Kind kind : {Kind::Dload, Kind::Dsave}) {
        for (const std::int32_t baud : {230400, 921600}) {
            const Result local = runTransfer(Run{kind, baud}, size);
            const Result network = runTransfer(Run{kind, baud, true}, size);
            const bool timed = local.wireSeconds > 0 && network.wireSeconds > 0;
            const double points = timed ? 100.0 * double(size) / (baud / 10.0) *
                                              (1 / network.wireSeconds - 1 / local.wireSeconds)
                                        : 0;
            table.add({name(Run{kind, baud}), ofBaud(local, size, baud), ofBaud(network, size, baud),
                       timed ? bench::fixed(points, 2) + " points" : "-", ">= -1 point",
                       outcome(local) + " / " + outcome(network)});
            good = good && timed && local.dataIntact && network.dataIntact &&
                   !network.failedOnScreen;
        }
    }
    table.print();
    return good;
}

// lrzsz over a line paced as the simulator paces the console's, with the same
// data, beside the 921600 rows of this run.
bool compareWithZmodem(const std::vector<std::pair<std::string, Result>>& rows, std::size_t size) {
    constexpr std::int32_t baud = 921600;
    const double limit = double(size) * 10.0 / baud * 1.5 + 30;
    const bench::ZmodemResult zmodem = bench::runZmodem(e2e::patternBytes(size, 29), baud, limit);
    if (!zmodem.skipped.empty()) {
        std::printf("\n%s: the ZMODEM row is skipped.\n", zmodem.skipped.c_str());
        return true;
    }
    std::printf("\nOn an equal line at %d baud, %zu bytes: ZMODEM is lrzsz's sz sending to rz\n"
                "over two pseudo-terminals joined by a relay that paces both directions as the\n"
                "simulator does; its wire time runs from sz's first byte to the last byte of\n"
                "the session. dsave's holds the 200 ms pause after \"BRD\\r\", %.2f %% of a line's\n"
                "time for this size.\n\n",
                baud, size, 100.0 * 0.2 / (double(size) * 10.0 / baud));
    bench::Table table({"transfer", "wire s", "of baud/10", "data"});
    const auto rate = [&](double seconds) {
        return seconds > 0 ? bench::fixed(100.0 * double(size) / seconds / (baud / 10.0), 2) + " %" : "-";
    };
    for (const auto& [label, result] : rows) {
        table.add({label, bench::fixed(result.wireSeconds, 2), rate(result.wireSeconds), outcome(result)});
    }
    table.add({"ZMODEM (sz -> rz)", bench::fixed(zmodem.wireSeconds, 2), rate(zmodem.wireSeconds),
               bench::dataOutcome(zmodem.finished, false, zmodem.intact)});
    table.print();
    return zmodem.finished && zmodem.intact;
}

// The console's own cost, on an unpaced pseudo-terminal.
bool measureUnpaced(std::size_t size) {
    std::printf("\nUnpaced over the pseudo-terminal: the console's own cost (wall time from\n"
                "Enter to the line end after the stars; CPU of the console meanwhile).\n\n");
    bench::Table unpaced({"transfer", "console s", "MB/s", "CPU s", "peak memory KiB", "data"});
    bool good = true;
    for (const Run run : {Run{Kind::Dload, 0}, Run{Kind::Dsave, 0}}) {
        const Result result = runTransfer(run, size);
        unpaced.add({name(run), result.finished ? bench::fixed(result.consoleSeconds, 3) : "-",
                     result.finished ? bench::fixed(double(size) / result.consoleSeconds / 1e6, 2) : "-",
                     result.finished && result.cpuSeconds >= 0 ? bench::fixed(result.cpuSeconds, 2) : "-",
                     result.peakKiB >= 0 ? std::to_string(result.peakKiB) : "-", outcome(result)});
        good = good && result.finished && result.dataIntact && !result.failedOnScreen;
    }
    unpaced.print();
    return good;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    std::string wineExe;
    bool unpacedOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--wine" && i + 1 < argc) {
            wineExe = argv[++i];
        } else if (std::string(argv[i]) == "--unpaced") {
            unpacedOnly = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    bench::Options options;
    if (!bench::parseOptions(static_cast<int>(rest.size()), rest.data(), usage, options)) return 2;
    if (!wineExe.empty()) return bench::dsaveUnderWine(wineExe, 256 * 1024);
    const std::size_t size = options.quick ? 256 * 1024 : 2 * 1024 * 1024;
    if (unpacedOnly) return measureUnpaced(size) ? 0 : 1;
    const double blocks = double((size + BlockSize - 1) / BlockSize);
    bool good = true;

    std::printf("Transfers of %zu bytes through the console's keys, the target pacing both\n"
                "directions. Wire time: first byte of the command to the last of \"end binary\\r\".\n"
                "Protocol limit: %.0f blocks of %zu wire bytes at baud/10 bytes per second.\n\n",
                size, blocks, WireBytesPerBlock);
    bench::Table paced({"transfer", "wire s", "limit s", "of protocol limit", "goal",
                        "of baud/10", "over limit ms/block", "turnaround us median/p99",
                        "host's us median/p99", "console s", "data"});
    std::vector<std::pair<std::string, Result>> fastest;
    for (const Run run : {Run{Kind::Dload, 230400}, Run{Kind::Dload, 921600},
                          Run{Kind::Dsave, 115200}, Run{Kind::Dsave, 921600}}) {
        const Result result = runTransfer(run, size);
        if (run.baud == 921600) fastest.emplace_back(name(run), result);
        const double limitSeconds = blocks * WireBytesPerBlock * 10.0 / run.baud;
        const bool timed = result.finished && result.wireSeconds > 0;
        const double rate = timed ? double(size) / result.wireSeconds : 0;
        paced.add({name(run), timed ? bench::fixed(result.wireSeconds, 2) : "-",
                   bench::fixed(limitSeconds, 2),
                   timed ? bench::fixed(100.0 * limitSeconds / result.wireSeconds, 2) + " %" : "-",
                   run.kind == Kind::Dload ? ">= 99 %" : ">= 98 %",
                   timed ? bench::fixed(100.0 * rate / (run.baud / 10.0), 2) + " %" : "-",
                   timed ? bench::fixed(1000.0 * (result.wireSeconds - limitSeconds) / blocks, 3) : "-",
                   bench::medianAndP99Us(result.turnarounds),
                   bench::medianAndP99Us(result.hostTurnarounds),
                   result.finished ? bench::fixed(result.consoleSeconds, 2) : "-", outcome(result)});
        good = good && timed && result.dataIntact && !result.failedOnScreen;
    }
    paced.print();
    std::printf("\nturnaround: from the target's last byte to the console's next one, as the\n"
                "line has them; host's: to when that byte was first seen on the line, before\n"
                "the pacing and the target's wake-up. The floor under both, a bare pty round\n"
                "trip between two processes (one-byte echo, both in poll()), median / p99:\n"
                "  back to back                       %s us\n"
                "  after a block's time (22 ms) idle  %s us\n",
                bench::medianAndP99Us(bench::ptyRoundTrips(2000, std::chrono::microseconds(0))).c_str(),
                bench::medianAndP99Us(bench::ptyRoundTrips(200, std::chrono::microseconds(22'000))).c_str());
    good = compareWithZmodem(fastest, size) && good;

    good = measureUnpaced(size) && good;
    good = compareWithNetwork(options.quick ? 128 * 1024 : 1024 * 1024) && good;
    return good ? 0 : 1;
}
