// How a batch run ends: at its last line, at the time-out or a signal with
// whatever it was doing ended, and on the verdict of the target's lines.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "tests/e2e/batch_runner.h"

namespace {

using namespace e2e;

class BatchEnd : public BatchRunTest {
protected:
    // A shell line whose command leaves a child running that notes SIGTERM in
    // the file "term" after a clean-up that takes a while, and lives on (only
    // SIGKILL ends it); its pid in "pid" tells that it is ready.
    std::string lingeringShell() {
        return "local ! sh -c 'trap \"sleep 0.2; echo >" + folder.file("term") + "\" TERM; printf %s $$ >" +
               folder.file("pid") + "; while :; do sleep 1; done' & exec sleep 30\n";
    }
    // Still there a second after the console ended (a zombie has ended).
    bool lingererAlive() const {
        const std::string pid = readFile(folder.file("pid"));
        EXPECT_FALSE(pid.empty()) << "the command ran";
        for (int tries = 0; tries < 50; ++tries) {
            const std::string stat = readFile("/proc/" + pid + "/stat");
            const std::size_t state = stat.rfind(") ");
            if (state == std::string::npos || stat[state + 2] == 'Z') return false;
            std::this_thread::sleep_for(milliseconds(20));
        }
        return true;
    }
};

TEST_F(BatchEnd, ALastLineThatSendsNothingEndsTheRunAtOnce) {
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    // The first line runs at once, the second at the greeting's prompt.
    const std::string lines = "local ! true\nlocal ! true\n";
    EXPECT_EQ(run(target, {"--batch", script("s.txt", lines)}, {}, milliseconds(8000)), 0);
    // "wait-prompt" waits all the same.
    EXPECT_EQ(run(target, {"--batch", "--timeout=1", script("w.txt", "local ! true\nlocal wait-prompt\n")}),
              3);
}

TEST_F(BatchEnd, TheTimeOutEndsAShellCommandAndAllItStarted) {
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    const auto started = Clock::now();
    EXPECT_EQ(run(target, {"--batch", "--timeout", "1", script("s.txt", lingeringShell())}), 3);
    EXPECT_LT(Clock::now() - started, milliseconds(4000));
    EXPECT_FALSE(lingererAlive());
    EXPECT_EQ(readFile(folder.file("term")), "\n") << "told to end before it was killed";
    ASSERT_EQ(::unlink(folder.file("pid").c_str()), 0);
    ASSERT_EQ(::unlink(folder.file("term").c_str()), 0);

    // SIGTERM the same, with its own status.
    ConsoleProcess console;
    console.setConfigHome(folder.path());
    ASSERT_TRUE(console.start({"-p" + target.slavePath(), "--batch", script("t.txt", lingeringShell())}));
    ASSERT_TRUE(console.waitForScreen("press F1", eventTimeout));
    for (int tries = 0; tries < 200 && readFile(folder.file("pid")).empty(); ++tries) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    console.sendSignal(SIGTERM);
    EXPECT_EQ(console.waitForExit(milliseconds(3000)), 128 + SIGTERM);
    EXPECT_FALSE(lingererAlive());
    EXPECT_EQ(readFile(folder.file("term")), "\n");
}

TEST_F(BatchEnd, TheTimeOutCancelsATransferWithTheAbortByte) {
    sim::Options paced;
    paced.baud = 460800;  // a block in 45 ms: room for its reply on a busy machine
    sim::SimTarget target(paced);
    ASSERT_TRUE(target.start());
    ASSERT_TRUE(writeFile(folder.file("big.bin"), std::string(60 * 2048, 'x')));
    const std::string load = script("s.txt", "local dload " + folder.file("big.bin") + " 80010000\n");
    EXPECT_EQ(run(target, {"-b460800", "--batch", "--timeout=1", load}), 3);
    EXPECT_EQ(target.exchangesAborted(), 1);
    EXPECT_NE(out().find("*\ntransfer failed\ntimed out after 1 s\n"), std::string::npos) << out();
}

TEST_F(BatchEnd, TheTargetsLinesGiveTheVerdict) {
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    const std::string dump = script("s.txt", "dw 80000000 1\n");
    EXPECT_EQ(run(target, {"--batch", "--timeout=5", "--expect", "^8000000[0]: ", dump}), 0) << out();
    EXPECT_EQ(run(target, {"--batch", "--timeout=1", "--expect=never", "--expect=80000000", dump}), 3);
    EXPECT_NE(out().find(">> \ntimed out after 1 s\n--expect \"never\" not seen\n"), std::string::npos)
        << out();
    EXPECT_EQ(out().find("\"80000000\" not seen"), std::string::npos) << out();
    EXPECT_EQ(run(target, {"--batch", "--fail-on", "^80+: ", dump}), 5);
    EXPECT_NE(out().find("--fail-on \"^80+: \" matched the line: 80000000: "), std::string::npos) << out();

    // A failing line in pieces, during a sleep: the run ends at once.
    std::thread speaker([&] {
        std::this_thread::sleep_for(milliseconds(500));
        target.say("RESULT: F");
        std::this_thread::sleep_for(milliseconds(300));
        target.say("AIL\r\n");
    });
    const auto started = Clock::now();
    EXPECT_EQ(run(target, {"--batch", "--fail-on=FAIL$", script("z.txt", "local sleep 20\n")}), 5);
    EXPECT_LT(Clock::now() - started, milliseconds(5000));
    speaker.join();
    EXPECT_LT(out().find("RESULT: F"), out().find("--fail-on")) << "shown as it came: " << out();

    // What comes during the last line's sleep is all shown, a long text too.
    std::string summary;
    for (int check = 0; check < 20; ++check) summary += "check " + std::to_string(check) + " passed\r\n";
    summary += "RESULT: PASS\r\n";
    std::thread reporter([&] {
        std::this_thread::sleep_for(milliseconds(700));
        target.say(summary);
    });
    const std::string sleeps = script("p.txt", "dw 80000000 1\nlocal sleep 2\n");
    EXPECT_EQ(run(target, {"--batch", "--timeout=10", "--expect=PASS$", sleeps}), 0);
    reporter.join();
    EXPECT_NE(out().find(summary), std::string::npos) << out();

    // Refused at the start: no valid pattern, or no way to end the wait.
    EXPECT_EQ(run(target, {"--batch", "--fail-on", "(", dump}), 1);
    EXPECT_NE(err().find("--fail-on \"(\" is no valid regular expression: "), std::string::npos) << err();
    EXPECT_EQ(run(target, {"--batch", "--expect", "x", dump}), 1);
    EXPECT_EQ(run(target, {"--fail-on", "x", dump}), 1);
    EXPECT_EQ(run(target, {"--reconnect", dump}), 1);
    EXPECT_NE(err().find("--reconnect is for --batch runs"), std::string::npos) << err();
}

TEST_F(BatchEnd, AFailingLineDuringATransferCancelsIt) {
    sim::Options paced;
    paced.baud = 460800;  // a block in 45 ms: room for its reply on a busy machine
    sim::SimTarget target(paced);
    ASSERT_TRUE(target.start());
    std::string memory(40 * 2048, '.');
    memory.replace(20 * 2048, 14, "RESULT: FAIL\r\n");
    target.writeMemory(0x80020000, std::vector<std::uint8_t>(memory.begin(), memory.end()));
    const std::string save = script("s.txt", "local dsave " + folder.file("m.bin") + " 80020000 14000\n");
    EXPECT_EQ(run(target, {"-b460800", "--batch", "--fail-on", "RESULT: FAIL", save}), 5);
    EXPECT_EQ(target.exchangesAborted(), 1);
    EXPECT_NE(out().find("\ntransfer failed\n--fail-on"), std::string::npos) << out();
}

TEST_F(BatchEnd, TheLogIsNoHostFileAndTrapsAreNamed) {
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    const std::string log = folder.file("session.log");
    ASSERT_EQ(::symlink(log.c_str(), folder.file("link").c_str()), 0);
    for (const std::string& line : {"local dsave " + log + " 80000000 10\n",
                                    "local dload " + folder.file("link") + " 80000000\n",
                                    "local load " + log + "\n", "local auto " + log + "\n"}) {
        EXPECT_EQ(run(target, {"--batch", "--log", log, script("s.txt", line)}), 2) << line;
        EXPECT_NE(out().find("cannot open file\n"), std::string::npos) << line << out();
        EXPECT_EQ(readFile(log).find(out()), 0u) << "kept whole: " << line;
        ASSERT_EQ(::unlink(log.c_str()), 0);
    }
    // A run that failed keeps its own status when its log fails too.
    EXPECT_EQ(run(target, {"--batch", "--log", "/dev/full", script("s.txt", "local load none.exe\n")}), 2);

    const std::string traps = script("t.txt", "dw 80000000 1 " + std::string(200, ' ') + "\ndw 1");
    EXPECT_EQ(run(target, {"--batch", "--timeout=1", traps}), 3);
    EXPECT_NE(out().find("\nwarning: " + traps + " line 1 is longer than 199 bytes: it runs in pieces\n"),
              std::string::npos)
        << out();
    const std::string last = script("l.txt", "dw 80000000 1\ndw 80000004 1");
    EXPECT_EQ(run(target, {"--batch", "--timeout=1", last}), 3);
    EXPECT_NE(out().find("\nwarning: " + last + " line 2 has no line end: the monitor waits for one\n"),
              std::string::npos)
        << out();
}

// Keys from a pipe or a file end the session once they have gone out and
// the session's script is over.
TEST_F(BatchEnd, KeysFromAFileEndTheSession) {
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    BatchRun keys;
    keys.input = script("keys.txt", "dw 80000000 1\r");
    const std::string lines = script("s.txt", "local ! true\nlocal wait-prompt\nlocal echo script over\n");
    EXPECT_EQ(run(target, {lines}, keys, milliseconds(8000)), 0);
    EXPECT_NE(out().find("80000000: "), std::string::npos) << out();
    EXPECT_NE(out().find("script over"), std::string::npos) << out();
}

}  // namespace
