// What a long run costs: the console loop over a silent line must not grow,
// and a thousand transfers must leave no descriptor or thread behind.
#include <malloc.h>

#include <iostream>

#include "tests/faults/fault_rig.h"
#include "tests/faults/process_stats.h"
#include "tests/support/fakes.h"

namespace faults {
namespace {

// Runs the console loop for this many passes over a line that never says
// anything, then quits with F10 F2.
void idlePasses(Console& console, fakes::ScriptedKeys& keyboard, fakes::RecordingPort& line, int passes) {
    line.reads = 0;
    line.beforeRead = [&keyboard, passes](int read) {
        if (read == passes) keyboard.type({keys::PrefixZero, keys::F10, keys::PrefixZero, keys::F2});
    };
    console.run(&line, false, "");
}

// On a silent line each pass is one 200 ms read: 18,000 passes are an hour.
TEST(Resources, AnIdleHourOfTheConsoleLoopDoesNotGrow) {
    constexpr int Passes = 18'000;
    fakes::ScriptedKeys keys;
    fakes::RecordingScreen screen;
    fakes::RecordingHost host;
    fakes::RecordingPort line;
    Console console(keys, screen, host);
    // A first hour touches whatever pages a run touches once (a sanitizer's
    // bookkeeping among them); the second must add nothing.
    idlePasses(console, keys, line, Passes);
    // So do the first reads of the figures themselves.
    (void)statusKiB("self", "VmRSS");
    (void)mallinfo2();

    const long rssBefore = statusKiB("self", "VmRSS");
    const std::size_t heapBefore = mallinfo2().uordblks;
    idlePasses(console, keys, line, Passes);
    const std::size_t heapAfter = mallinfo2().uordblks;
    const long rssAfter = statusKiB("self", "VmRSS");

    EXPECT_EQ(console.state, QuitRequested);
    EXPECT_GE(line.emptyReads, Passes);
    EXPECT_TRUE(line.written.empty()) << "the quit chord sends nothing";
    std::cout << "[ measured ] idle loop, " << Passes << " passes: heap in use " << heapBefore
              << " -> " << heapAfter << " bytes, VmRSS " << rssBefore << " -> " << rssAfter
              << " KiB\n";
    // Exact where the heap can be counted (not under valgrind or a
    // sanitizer, whose allocators answer 0). The resident size moves by a few
    // pages on its own; a pass that kept even 16 bytes would add 280 KiB.
    EXPECT_EQ(heapAfter, heapBefore);
    EXPECT_LT(rssAfter - rssBefore, 256) << "KiB";
}

// Small transfers back to back on one console and one line. A dsave costs the
// host's 200 ms pause after "BRD\r", so one transfer in DsaveEvery is a dsave
// and the others are dloads.
TEST(Resources, AThousandTransfersLeaveNoDescriptorOrThreadBehind) {
    constexpr int Transfers = 1000;
    constexpr int DsaveEvery = 20;
    TempFolder folder;
    const Bytes data = randomBytes(16, 51);
    const std::string source = folder.write("in.bin", data);
    const std::string saved = folder.file("out.bin");
    SimConsole sim;
    // A first transfer outside the count: what the first one sets up once is
    // no leak. The monitor's prompts after each exchange stay on the line; the
    // next command's echo and its wait for "binary\r" read past them.
    ASSERT_TRUE(dload(sim.console, source.c_str(), Base, &sim.port));

    const long descriptorsBefore = openDescriptors();
    const long threadsBefore = threadCount();
    const auto started = std::chrono::steady_clock::now();
    int failures = 0;
    for (int i = 0; i < Transfers; ++i) {
        sim.screen.text.clear();
        const bool ok = i % DsaveEvery == DsaveEvery - 1
                            ? dsave(sim.console, saved.c_str(), Base, 16, &sim.port)
                            : dload(sim.console, source.c_str(), Base, &sim.port);
        if (!ok || sim.screen.text != "\n") ++failures;
    }
    const auto took = std::chrono::steady_clock::now() - started;
    const long descriptorsAfter = openDescriptors();
    const long threadsAfter = threadCount();

    std::cout << "[ measured ] " << Transfers << " transfers in "
              << std::chrono::duration_cast<milliseconds>(took).count() << " ms: descriptors "
              << descriptorsBefore << " -> " << descriptorsAfter << ", threads " << threadsBefore
              << " -> " << threadsAfter << "\n";
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(sim.target.exchangesCompleted(), Transfers + 1);
    EXPECT_EQ(TempFolder::read(saved), data);
    EXPECT_GT(descriptorsBefore, 0);
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
    EXPECT_EQ(threadsAfter, threadsBefore);
}

}  // namespace
}  // namespace faults
