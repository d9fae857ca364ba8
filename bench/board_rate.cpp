// dload and LOAD of 1 MiB to the board firmware on QEMU's MIPS Malta,
// through the console's keys: host wall time and the console's CPU time per
// transfer. QEMU does not pace its UART, so this measures the host, the
// pseudo-terminal, QEMU's serial model and the firmware, not a line. The
// data is checked afterwards by the board itself: the sum example adds up
// what arrived.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tests/loader/loader_files.h"
#include "tests/support/e2e_console.h"
#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"
#include "tests/support/e2e_temp_folder.h"
#include "tests/support/qemu_board.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* usage =
    "usage: tolvanis-bench-board [--quick]\n"
    "dload, and LOAD of an EXE and an ELF, of 1 MiB each to the board firmware on QEMU's\n"
    "MIPS Malta, three times each (256 KiB once with --quick).\n";

// Clear of the examples (0x80010000) and of the stack they get (below 0x801ffff0).
constexpr std::uint32_t Address = 0x80020000;

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

struct Session {
    e2e::QemuBoard board;
    e2e::ConsoleProcess console;
    int failures = 0;

    bool start() {
        if (!board.start() || !console.start({"-p" + board.port(), "-b115200"})) return false;
        const std::size_t from = console.mark();
        console.sendKeys("\r");
        return console.waitForScreen(">>", e2e::eventTimeout, from);
    }
    // The chord or key, its argument prompt, the arguments; timed from Enter
    // to the line end that closes the stars.
    // A load prints its format on a line of its own before the stars.
    bench::CommandTiming run(const std::string& keys, const std::string& prompt, const std::string& arguments,
                             const std::string& opening) {
        const std::size_t from = console.mark();
        console.sendKeys(keys);
        if (!console.waitForScreen(prompt, e2e::eventTimeout, from)) return {};
        console.sendKeys(arguments);
        const std::size_t mark = console.mark();
        bench::CommandTiming timing = bench::pressEnterAndTime(console, mark, opening, 300s);
        if (timing.finished) console.waitForScreen(">>", e2e::eventTimeout, timing.ended);
        // The console says so when the board did not confirm a block in time.
        if (console.screenSince(mark).find("transfer failed") != std::string::npos) ++failures;
        return timing;
    }
    // What arrived, added up on the board by the sum example.
    bool boardSumIs(std::size_t size, std::uint32_t expected) {
        run(std::string(e2e::keys::F4), "LOAD <file>:", e2e::QemuBoard::example("sum.elf"), "format\r\n");
        command("sr a0 " + hex8(Address));
        command("sr a1 " + hex8(static_cast<std::uint32_t>(size)));
        return command("g").find("program returned " + hex8(expected)) != std::string::npos;
    }
    std::string command(const std::string& line) {
        const std::size_t from = console.mark();
        console.sendKeys(line + "\r");
        console.findOnScreen(">>", e2e::eventTimeout, from + line.size());
        return console.screenSince(from);
    }
};

// The same bytes as a raw file, an EXE and an ELF, each loaded at Address.
bool writeImages(const e2e::TempFolder& folder, const std::string& data) {
    const loadertest::Bytes bytes(data.begin(), data.end());
    loadertest::ExeLayout exe;
    exe.initialPc = exe.loadAddress = Address;
    exe.data = bytes;
    loadertest::ElfLayout elf;
    elf.entry = Address;
    elf.segments.push_back(loadertest::segment(Address, bytes));
    const loadertest::Bytes exeImage = loadertest::exeImage(exe);
    const loadertest::Bytes elfImage = loadertest::elfImage(elf);
    return e2e::writeFile(folder.file("data.bin"), data) &&
           e2e::writeFile(folder.file("data.exe"), std::string(exeImage.begin(), exeImage.end())) &&
           e2e::writeFile(folder.file("data.elf"), std::string(elfImage.begin(), elfImage.end()));
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::parseOptions(argc, argv, usage, options)) return 2;
    const std::string missing = e2e::QemuBoard::missing();
    if (!missing.empty()) {
        std::printf("board benchmark skipped: %s\n", missing.c_str());
        return 0;
    }
    const std::size_t size = options.quick ? 256 * 1024 : 1024 * 1024;
    const int rounds = options.quick ? 1 : 3;

    e2e::TempFolder folder;
    const std::string data = e2e::patternBytes(size, 29);
    if (!writeImages(folder, data)) {
        std::fprintf(stderr, "cannot write the test files\n");
        return 1;
    }

    Session session;
    if (!session.start()) {
        std::fprintf(stderr, "the board did not come up: %s\n%s\n", session.board.error().c_str(),
                     session.console.screen().c_str());
        return 1;
    }
    const std::string dloadKeys = std::string(e2e::keys::F9) + std::string(e2e::keys::F4);
    const std::string loadKeys(e2e::keys::F4);
    struct Case {
        const char* label;
        std::string keys, prompt, arguments, opening;
    };
    const std::vector<Case> cases{
        {"dload", dloadKeys, "DLOAD <file> <addr>:", folder.file("data.bin") + " " + hex8(Address), "\r\n"},
        {"LOAD EXE", loadKeys, "LOAD <file>:", folder.file("data.exe"), "format\r\n"},
        {"LOAD ELF", loadKeys, "LOAD <file>:", folder.file("data.elf"), "format\r\n"},
    };

    std::uint32_t expected = 0;
    for (const char byte : data) expected += static_cast<unsigned char>(byte);
    bench::Table table({"transfer", "KiB", "wall s (median)", "KiB/s", "console CPU s", "failed", "board's sum"});
    for (const Case& c : cases) {
        std::vector<double> walls, cpus;
        session.failures = 0;
        for (int round = 0; round < rounds; ++round) {
            const bench::CommandTiming timing = session.run(c.keys, c.prompt, c.arguments, c.opening);
            if (!timing.finished) break;
            walls.push_back(timing.consoleSeconds);
            cpus.push_back(timing.cpuSeconds);
        }
        const bool intact = session.boardSumIs(size, expected);
        if (walls.size() != static_cast<std::size_t>(rounds)) {
            table.add({c.label, std::to_string(size / 1024), "did not finish", "", "", "", ""});
            continue;
        }
        const double wall = bench::median(walls);
        table.add({c.label, std::to_string(size / 1024), bench::fixed(wall, 2),
                   bench::fixed(double(size) / 1024 / wall, 0), bench::fixed(bench::median(cpus), 3),
                   std::to_string(session.failures) + "/" + std::to_string(rounds), intact ? "matches" : "DIFFERS"});
    }
    table.print();
    return 0;
}
