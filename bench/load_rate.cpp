// LOAD throughput, driven through the console's keys: an EXE of 2 MiB, an
// ECOFF executable of four sections and an ELF executable of two segments,
// each totalling 1 MiB, against the simulated target pacing both directions. The wire time runs from the first "BWR\r"
// to the last "end binary\r"; the start registers that follow are timed on
// their own, and so is what each extra section (an exchange of its own)
// costs, from a one-section file of the same size.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tests/loader/loader_files.h"
#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"
#include "tests/support/e2e_temp_folder.h"

namespace {

constexpr const char* usage =
    "usage: tolvanis-bench-load [--quick]\n"
    "LOAD of a 2 MiB EXE, a 1 MiB four-section ECOFF and a 1 MiB two-segment ELF\n"
    "at 230400 and 921600 baud and unpaced (an eighth of the sizes with --quick).\n"
    "A full run takes about five minutes.\n";

constexpr std::size_t BlockSize = 2048;
constexpr std::size_t WireBytesPerBlock = BlockSize + 3;
constexpr std::uint32_t Base = 0x80010000;

struct Section {
    const char* name;
    std::uint32_t flag;
    std::uint32_t address;
    std::vector<std::uint8_t> data;
};

enum class Format { Exe, Ecoff, Elf };

struct Program {
    std::string label;
    Format format;
    std::vector<Section> sections;  // an EXE has one; an ELF's are its segments
};

struct Result {
    bool finished = false;
    bool intact = false;
    bool failedOnScreen = false;
    double wireSeconds = 0;
    double registerMs = 0;
    double consoleSeconds = 0;
    double cpuSeconds = -1;
    long peakKiB = -1;
};

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

Program exeProgram(std::size_t size) {
    return {"EXE", Format::Exe, {{"", 0, Base, bytesOf(e2e::patternBytes(size, 41))}}};
}

// Four sections of the kinds a program has, one after the other in memory.
Program ecoffProgram(std::size_t size, int sectionCount) {
    const Section kinds[] = {{".text", 0x20, 0, {}}, {".rdata", 0x100, 0, {}},
                             {".data", 0x40, 0, {}}, {".sdata", 0x200, 0, {}}};
    const std::size_t shares[] = {4, 1, 2, 1};  // eighths of the whole
    Program program{"ECOFF x" + std::to_string(sectionCount), Format::Ecoff, {}};
    std::uint32_t address = Base;
    for (int i = 0; i < sectionCount; ++i) {
        Section section = kinds[i];
        const std::size_t part = sectionCount == 1 ? size : size / 8 * shares[i];
        section.address = address;
        section.data = bytesOf(e2e::patternBytes(part, 50 + unsigned(i)));
        address += std::uint32_t(part);
        program.sections.push_back(std::move(section));
    }
    return program;
}

// Code and read-only data in one segment, data in the other, as a link
// for the board lays them out.
Program elfProgram(std::size_t size) {
    const std::size_t code = size / 8 * 5;
    return {"ELF x2",
            Format::Elf,
            {{"", 0, Base, bytesOf(e2e::patternBytes(code, 60))},
             {"", 0, Base + 0x100000 * 2, bytesOf(e2e::patternBytes(size - code, 61))}}};
}

std::vector<std::uint8_t> imageOf(const Program& program) {
    if (program.format == Format::Elf) {
        loadertest::ElfLayout layout;
        for (const Section& segment : program.sections) {
            layout.segments.push_back(loadertest::segment(segment.address, segment.data));
        }
        return loadertest::elfImage(layout);
    }
    if (program.format == Format::Exe) {
        loadertest::ExeLayout layout;
        layout.loadAddress = program.sections[0].address;
        layout.data = program.sections[0].data;
        return loadertest::exeImage(layout);
    }
    loadertest::EcoffLayout layout;
    for (const Section& section : program.sections) {
        layout.sections.push_back(
            loadertest::section(section.name, section.flag, section.address, section.data));
    }
    return loadertest::ecoffImage(layout);
}

double limitSeconds(const Program& program, std::int32_t baud) {
    double blocks = 0;
    for (const Section& section : program.sections) {
        blocks += double((section.data.size() + BlockSize - 1) / BlockSize);
    }
    return blocks * WireBytesPerBlock * 10.0 / baud;
}

std::size_t totalSize(const Program& program) {
    std::size_t size = 0;
    for (const Section& section : program.sections) size += section.data.size();
    return size;
}

Result runLoad(const Program& program, std::int32_t baud) {
    Result result;
    sim::Options targetOptions;
    targetOptions.baud = baud;
    e2e::ConsoleOnTarget session(targetOptions);
    e2e::TempFolder folder;
    const std::vector<std::uint8_t> image = imageOf(program);
    const std::string path = folder.file("program");
    if (!e2e::writeFile(path, std::string(image.begin(), image.end()))) return result;
    if (!session.start(baud > 0 ? baud : 115200)) {
        std::fprintf(stderr, "the console did not reach the monitor prompt\n");
        return result;
    }
    e2e::ConsoleProcess& console = session.console();

    console.sendKeys(std::string(e2e::keys::F4));
    if (!console.waitForScreen("LOAD <file>:", e2e::eventTimeout)) return result;
    std::size_t mark = console.mark();
    console.sendKeys(path);
    if (!console.waitForScreen(path, e2e::eventTimeout, mark)) return result;

    mark = console.mark();
    session.target().clearTranscript();
    const double physics = baud > 0 ? limitSeconds(program, baud) : 0;
    const auto limit = std::chrono::milliseconds(std::int64_t(physics * 1500) + 60000);
    // The format line, then the line end that closes the stars.
    const bench::CommandTiming timing = bench::pressEnterAndTime(console, mark, "format\r\n", limit);
    if (!timing.finished) return result;
    result.finished = true;
    result.consoleSeconds = timing.consoleSeconds;
    result.cpuSeconds = timing.cpuSeconds;
    result.peakKiB = timing.peakKiB;
    session.waitForPrompt(timing.ended);
    result.failedOnScreen = console.screenSince(mark).find("transfer failed") != std::string::npos;

    result.intact = true;
    for (const Section& section : program.sections) {
        result.intact = result.intact &&
                        session.target().readMemory(section.address, std::uint32_t(section.data.size())) ==
                            section.data;
    }
    const auto transcript = session.target().transcript();
    double total = 0;
    if (baud > 0 && bench::wireSpan(transcript, "BWR\r", "end binary\r", result.wireSeconds) &&
        bench::wireSpan(transcript, "BWR\r", "sr sp ", total)) {
        // From the last "end binary\r" to the "sr sp" command: the start
        // registers' prompts and commands (the last prompt is not awaited
        // by anything the transcript can date better).
        result.registerMs = 1000.0 * (total - result.wireSeconds);
    }
    return result;
}

std::string outcome(const Result& result) {
    return bench::dataOutcome(result.finished, result.failedOnScreen, result.intact);
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::parseOptions(argc, argv, usage, options)) return 2;
    const std::size_t exeSize = options.quick ? 256 * 1024 : 2 * 1024 * 1024;
    const std::size_t ecoffSize = exeSize / 2;
    const Program exe = exeProgram(exeSize);
    const Program ecoff = ecoffProgram(ecoffSize, 4);
    const Program single = ecoffProgram(ecoffSize, 1);
    const Program elf = elfProgram(ecoffSize);
    bool good = true;

    std::printf("LOAD through the console's keys, the target pacing both directions. Wire\n"
                "time: first \"BWR\\r\" to the last \"end binary\\r\"; limit: 2051 wire bytes per\n"
                "2048-byte block at baud/10 bytes per second.\n\n");
    bench::Table paced({"program", "bytes", "baud", "wire s", "limit s", "of protocol limit",
                        "of baud/10", "registers ms", "console s", "data"});
    double perSection[2] = {0, 0};
    const std::int32_t rates[] = {230400, 921600};
    for (int r = 0; r < 2; ++r) {
        const std::int32_t baud = rates[r];
        double overheadFour = 0;
        double overheadOne = 0;
        for (const Program* program : {&exe, &ecoff, &single, &elf}) {
            if (program == &single && baud != 921600) continue;
            const Result result = runLoad(*program, baud);
            const double limit = limitSeconds(*program, baud);
            const bool timed = result.finished && result.wireSeconds > 0;
            const double size = double(totalSize(*program));
            paced.add({program->label, std::to_string(totalSize(*program)), std::to_string(baud),
                       timed ? bench::fixed(result.wireSeconds, 2) : "-", bench::fixed(limit, 2),
                       timed ? bench::fixed(100.0 * limit / result.wireSeconds, 2) + " %" : "-",
                       timed ? bench::fixed(100.0 * size / result.wireSeconds / (baud / 10.0), 2) + " %"
                             : "-",
                       timed ? bench::fixed(result.registerMs, 1) : "-",
                       result.finished ? bench::fixed(result.consoleSeconds, 2) : "-", outcome(result)});
            good = good && timed && result.intact && !result.failedOnScreen;
            if (program == &ecoff) overheadFour = result.wireSeconds - limit;
            if (program == &single) overheadOne = result.wireSeconds - limit;
        }
        perSection[r] = (overheadFour - overheadOne) / 3.0;
    }
    paced.print();
    std::printf("\nEach extra section (an exchange of its own, no prompt awaited in between)\n"
                "costs %.1f ms at 921600 baud, compared with one section of the same size%s.\n",
                1000.0 * perSection[1],
                perSection[1] < 0 ? " (below\nthe variation between runs)" : "");

    std::printf("\nUnpaced over the pseudo-terminal: the console's own cost.\n\n");
    bench::Table unpaced({"program", "bytes", "console s", "CPU s", "peak memory KiB", "data"});
    for (const Program* program : {&exe, &ecoff, &elf}) {
        const Result result = runLoad(*program, 0);
        unpaced.add({program->label, std::to_string(totalSize(*program)),
                     result.finished ? bench::fixed(result.consoleSeconds, 3) : "-",
                     result.cpuSeconds >= 0 ? bench::fixed(result.cpuSeconds, 2) : "-",
                     result.peakKiB >= 0 ? std::to_string(result.peakKiB) : "-", outcome(result)});
        good = good && result.finished && result.intact && !result.failedOnScreen;
    }
    unpaced.print();
    return good ? 0 : 1;
}
