// dload and dsave of 1 MiB through a USB adapter: the console in the Linux
// guest on QEMU's emulated FTDI adapter under the real ftdi_sio driver, the
// unpaced simulator at the far end. Wall time and the console's CPU as the
// guest's `time` reports them, dsave with the pulses beside the reads and,
// for one block, with --strict-rts (a pulse is two USB control transfers).
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "sim/sim_target.h"
#include "tests/support/e2e_temp_folder.h"
#include "tests/support/usb_guest.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* usage =
    "usage: tolvanis-bench-usb [--quick]\n"
    "dload and dsave of 1 MiB (256 KiB with --quick) through QEMU's emulated FTDI adapter\n"
    "in a Linux guest, three times each, and one block of dsave with --strict-rts.\n";

struct Run {
    std::string name;
    std::string script;
    std::string options;
    std::uint32_t bytes;
};

// The guest's busybox `time` before a run's mark: real, user and sys seconds.
bool timesOf(const std::string& shown, const std::string& mark, double& wall, double& cpu, int& status) {
    const std::regex pattern("real\\s+([0-9]+)m ?([0-9.]+)s\\s+user\\s+([0-9]+)m ?([0-9.]+)s"
                             "\\s+sys\\s+([0-9]+)m ?([0-9.]+)s\\s+" + mark + " status ([0-9]+)");
    std::smatch match;
    if (!std::regex_search(shown, match, pattern)) return false;
    wall = std::stod(match[1]) * 60 + std::stod(match[2]);
    cpu = std::stod(match[3]) * 60 + std::stod(match[4]) + std::stod(match[5]) * 60 + std::stod(match[6]);
    status = std::stoi(match[7]);
    return true;
}

std::string line(const Run& run, int round) {
    const std::string mark = run.name + std::to_string(round);
    // time's report (stderr) comes before the mark; a run that fails shows
    // the end of what the console printed after it.
    return "{ time tolvanis -p/dev/ttyUSB0 -b921600 --batch --timeout 120 " + run.options + " /test/" + run.script +
           " >/tmp/out; echo $? >/tmp/status; } 2>&1 | sed 's/^Command exited.*//'\n"
           "echo \"" + mark + " status $(cat /tmp/status)\"\n"
           "[ \"$(cat /tmp/status)\" = 0 ] || echo \"" + mark + " said: $(tail -c 200 /tmp/out | tr -d '*\\r\\n')\"\n";
}

// Every run once a round, the strict block in the first round only.
std::string guestScript(const std::vector<Run>& runs, int rounds) {
    std::string script;
    for (int round = 0; round < rounds; ++round) {
        for (const Run& run : runs) {
            if (run.name != "strict-block" || round == 0) script += line(run, round);
        }
    }
    return script + "cmp /tmp/saved.bin /test/data.bin && echo saved-matches\n";
}

// The table of medians over the rounds, and the ratio the runs are for.
void report(const std::string& shown, const std::vector<Run>& runs, int rounds) {
    bench::Table table({"through the emulated FTDI adapter", "wall (median)", "KiB/s", "console CPU", "status"});
    double dloadWall = 0, dsaveWall = 0;
    for (const Run& run : runs) {
        std::vector<double> walls, cpus;
        int status = 0;
        for (int round = 0; round < rounds; ++round) {
            double wall = 0, cpu = 0;
            int got = 0;
            if (!timesOf(shown, run.name + std::to_string(round), wall, cpu, got)) continue;
            walls.push_back(wall);
            cpus.push_back(cpu);
            status = std::max(status, got);
            std::smatch said;
            if (got != 0 && std::regex_search(shown, said, std::regex(run.name + std::to_string(round) + " said: (.*)"))) {
                std::printf("%s, round %d, exit %d: ...%s\n", run.name.c_str(), round + 1, got, said[1].str().c_str());
            }
        }
        if (walls.empty()) {
            table.add({run.name, "no figures", "", "", ""});
            continue;
        }
        const double wall = bench::median(walls);
        if (run.name == "dload") dloadWall = wall;
        if (run.name == "dsave") dsaveWall = wall;
        table.add({run.name + " " + std::to_string(run.bytes / 1024) + " KiB", bench::fixed(wall, 2) + " s",
                   bench::fixed(run.bytes / 1024.0 / wall, 1), bench::fixed(bench::median(cpus), 2) + " s",
                   status == 0 ? "ok" : "exit " + std::to_string(status)});
    }
    table.print();
    if (dloadWall > 0 && dsaveWall > 0) std::printf("dsave / dload: %s\n", bench::fixed(dsaveWall / dloadWall, 2).c_str());
    std::printf("dsave's file %s the target's memory\n",
                shown.find("saved-matches") != std::string::npos ? "matches" : "DIFFERS FROM");
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::parseOptions(argc, argv, usage, options)) return 2;
    const std::string reason = e2e::UsbGuest::missing();
    if (!reason.empty()) {
        std::printf("skipped: %s\n", reason.c_str());
        return 0;
    }
    const std::uint32_t size = options.quick ? 256 * 1024 : 1024 * 1024;
    const int rounds = options.quick ? 1 : 3;
    char length[16];
    std::snprintf(length, sizeof length, "%x", size);

    sim::SimTarget target;
    if (!target.start()) return 1;
    const std::string data = e2e::patternBytes(size, 11);
    target.writeMemory(0x80200000, {data.begin(), data.end()});
    e2e::UsbGuest guest;
    guest.addFile("data.bin", data);
    guest.addFile("dload.txt", "local dload /test/data.bin 80100000\n");
    guest.addFile("dsave.txt", std::string("local dsave /tmp/saved.bin 80200000 ") + length + "\n");
    guest.addFile("block.txt", "local dsave /tmp/block.bin 80200000 800\n");
    const std::vector<Run> runs{{"dload", "dload.txt", "", size},
                                {"dsave", "dsave.txt", "", size},
                                {"strict-block", "block.txt", "--strict-rts", 2048}};
    if (!guest.start(target.slavePath(), guestScript(runs, rounds))) {
        std::printf("the guest did not start: %s\n", guest.error().c_str());
        return 1;
    }
    if (guest.finish(std::chrono::minutes(10)) != 0) std::printf("the guest's script failed\n");
    report(guest.scriptOutput(), runs, rounds);
    return 0;
}
