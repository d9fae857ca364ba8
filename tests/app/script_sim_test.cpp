// Scripts through the real console, port and the program's commands against
// the simulated monitor.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "app/program_commands.h"
#include "sim/sim_target.h"
#include "tests/loader/loader_files.h"
#include "tests/script/script_rig.h"

namespace {

using loadertest::Bytes;
using Clock = std::chrono::steady_clock;

// The real line, watched after every read of the console loop: once the
// script has ended and the target is quiet, or the time is up, the loop is
// told to stop. The transfer worker's reads are left alone.
class WatchedPort final : public SerialPort {
public:
    std::int32_t read(void* buffer, std::int32_t count) override {
        const std::int32_t got = SerialPort::read(buffer, count);
        if (std::this_thread::get_id() == loopThread && afterRead) afterRead(got);
        return got;
    }
    // Without a handle to wait on, the loop reads with the line's time-outs,
    // so every pass of it comes through read() above.
    std::intptr_t waitHandle() const override { return -1; }
    std::thread::id loopThread = std::this_thread::get_id();
    std::function<void(std::int32_t)> afterRead;
};

class ScriptOnTarget : public ::testing::Test {
protected:
    void startTarget(sim::Options options = {}) {
        target = std::make_unique<sim::SimTarget>(options);
        ASSERT_TRUE(target->start());
        ASSERT_TRUE(port.open(target->slavePath().c_str(), 115200));
    }
    void TearDown() override {
        port.close();
        if (target) target->stop();
    }

    // Runs the console loop with the script named on its command line until
    // the script has ended and the target has gone quiet.
    void runScript(const std::string& content, std::chrono::seconds limit = std::chrono::seconds(30)) {
        const std::string path = rig.file("script.txt", content);
        const auto deadline = Clock::now() + limit;
        int quietReads = 0;
        port.afterRead = [&](std::int32_t got) {
            quietReads = got == 0 && !commands.scripts().scriptRunning() ? quietReads + 1 : 0;
            if (quietReads >= 2) console.state = QuitRequested;
            if (Clock::now() > deadline) {
                timedOut = true;
                console.state = QuitRequested;
            }
        };
        console.run(&port, true, path.c_str());
        EXPECT_FALSE(timedOut);
    }

    std::string sentToTarget() const {
        const auto bytes = target->bytes(sim::Direction::ToTarget);
        return std::string(bytes.begin(), bytes.end());
    }
    std::string fileText(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string write(const std::string& name, const Bytes& bytes) {
        return rig.file(name, std::string(bytes.begin(), bytes.end()));
    }

    // The folder and the recorders; the console is the real one.
    scripttest::Rig rig;
    Console console{rig.keyboard, rig.screen, rig.host};
    ProgramCommands commands{console};
    WatchedPort port;
    std::unique_ptr<sim::SimTarget> target;
    bool timedOut = false;
};

TEST_F(ScriptOnTarget, TransfersThenPlainLines) {
    startTarget();
    const Bytes data = loadertest::pattern(5000, 11);
    const Bytes program = loadertest::pattern(3000, 12);
    const Bytes text = loadertest::pattern(2100, 13);
    loadertest::ExeLayout exe;
    exe.initialPc = 0x80030000;
    exe.loadAddress = 0x80030000;
    exe.stackBase = 0x801f0000;
    exe.stackSize = 0x8000;
    exe.data = program;
    loadertest::EcoffLayout ecoff;
    ecoff.entry = 0x80040000;
    ecoff.gpValue = 0x80048000;
    ecoff.sections.push_back(loadertest::section(".text", 0x20, 0x80040000, text));

    const std::string dataPath = write("data.bin", data);
    const std::string exePath = write("prog.exe", loadertest::exeImage(exe));
    const std::string ecoffPath = write("prog.ecoff", loadertest::ecoffImage(ecoff));
    const std::string outPath = rig.path("out.bin");
    runScript("local dload " + dataPath + " 80020000\n" +
              "sr t0 11111111\n" +
              "local load " + exePath + "\n" +
              "sr t1 22222222\r\n" +
              "local load " + ecoffPath + "\n" +
              "sr t2 33333333\n" +
              "local dsave " + outPath + " 80020000 1388\n" +
              "sr t3 44444444\n");

    EXPECT_EQ(target->readMemory(0x80020000, 5000), data);
    EXPECT_EQ(target->readMemory(0x80030000, 3000), program);
    EXPECT_EQ(target->readMemory(0x80040000, 2100), text);
    EXPECT_EQ(fileText(outPath), std::string(data.begin(), data.end()));
    EXPECT_EQ(target->exchangesCompleted(), 4);
    EXPECT_EQ(target->reg("epc"), 0x80040000u);
    EXPECT_EQ(target->reg("gp"), 0x80048000u);
    EXPECT_EQ(target->reg("t0"), 0x11111111u);
    EXPECT_EQ(target->reg("t1"), 0x22222222u);
    EXPECT_EQ(target->reg("t2"), 0x33333333u);
    EXPECT_EQ(target->reg("t3"), 0x44444444u);

    // Each plain line went out after the exchange before it, line end and all.
    const std::string wire = sentToTarget();
    std::size_t at = 0;
    for (const char* step : {"BWR\r", "sr t0 11111111\n", "BWR\r", "sr t1 22222222\r\n", "BWR\r",
                             "sr t2 33333333\n", "BRD\r", "sr t3 44444444\n"}) {
        const std::size_t found = wire.find(step, at);
        ASSERT_NE(found, std::string::npos) << step;
        at = found + 1;
    }
    EXPECT_FALSE(commands.scripts().scriptRunning());
}

TEST_F(ScriptOnTarget, TransferThatCannotStartStopsTheScript) {
    startTarget();
    runScript("local dload " + rig.path("missing.bin") + " 80020000\nsr t0 11111111\n");
    EXPECT_NE(rig.screen.text.find("cannot open file\n"), std::string::npos);
    EXPECT_EQ(sentToTarget().find("sr t0"), std::string::npos);
    EXPECT_EQ(target->reg("t0"), 0u);
}

TEST_F(ScriptOnTarget, CancelledTransferStopsTheScript) {
    // A paced line keeps the transfer going long enough for ESC to arrive.
    sim::Options options;
    options.baud = 115200;
    startTarget(options);
    rig.keyboard.queue = {keys::Escape};
    rig.keyboard.ready = [this] { return console.state == Transferring; };
    const std::string dataPath = write("data.bin", loadertest::pattern(40000, 21));
    runScript("local dload " + dataPath + " 80020000\nsr t0 11111111\n");
    EXPECT_TRUE(rig.keyboard.queue.empty());
    EXPECT_EQ(target->exchangesCompleted(), 0);
    EXPECT_EQ(sentToTarget().find("sr t0"), std::string::npos);
}

}  // namespace
