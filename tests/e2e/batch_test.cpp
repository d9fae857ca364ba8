// tolvanis --batch as a CI job runs it, against the simulated target: the
// exit statuses, no terminal, and the session log.
#include <sys/stat.h>

#include <regex>
#include <string>

#include "tests/e2e/batch_runner.h"
#include "tests/support/e2e_session.h"

namespace {

using namespace e2e;

class Batch : public BatchRunTest {};

TEST_F(Batch, ExitStatusTellsHowTheScriptEnded) {
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    const std::string data = patternBytes(3 * 2048 + 100, 7);
    ASSERT_TRUE(writeFile(folder.file("data.bin"), data));

    // The end of the script: its last plain line answered by a prompt.
    const std::string good = script("good.txt", "local dload " + folder.file("data.bin") +
                                                    " 80010000\ndw 80010000 1\n");
    EXPECT_EQ(run(target, {"--batch", good}), 0) << out();
    EXPECT_EQ(textOf(target.readMemory(0x80010000, std::uint32_t(data.size()))), data);
    EXPECT_NE(out().find("80010000: "), std::string::npos) << "the target's answer is on stdout";
    EXPECT_EQ(run(target, {"--batch", script("quit.txt", "local quit\ndw 80010000 1\n")}), 0);

    // A failed command, a pause with no keyboard, a script that is not there.
    const std::string failed = script("failed.txt", "local load " + folder.file("none.exe") +
                                                        "\nlocal echo not reached\n");
    EXPECT_EQ(run(target, {"--batch", failed}), 2);
    EXPECT_NE(out().find("file not found\n"), std::string::npos) << out();
    EXPECT_EQ(out().find("not reached"), std::string::npos) << out();
    EXPECT_EQ(run(target, {"--batch", script("pause.txt", "local pause\nlocal echo on\n")}), 2);
    EXPECT_EQ(run(target, {"--batch", folder.file("missing.txt")}), 2);
    EXPECT_EQ(run(target, {"--batch", script("fq.txt", "local load none.exe quit\n")}), 2)
        << "a quit after a failure on the same line is still a failure";

    // The port cannot be opened.
    BatchRun noPort;
    noPort.configHome = folder.path();
    noPort.output = folder.file("out.txt");
    EXPECT_EQ(runConsole(noPort, {"-p" + folder.file("no-such-port"), "--batch", good}), 1);
}

TEST_F(Batch, ATimeOutOrALostPortEndsTheRun) {
    sim::Options silentOptions;
    silentOptions.faults.silentAfterSentBytes = 0;
    sim::SimTarget silent(silentOptions);
    ASSERT_TRUE(silent.start());
    const std::string waits = script("waits.txt", "dw 80000000 1\ndw 80000000 1\n");
    const auto started = Clock::now();
    EXPECT_EQ(run(silent, {"--batch", "--timeout", "1", waits}), 3);
    EXPECT_LT(Clock::now() - started, milliseconds(4000));
    EXPECT_NE(out().find("timed out after 1 s\n"), std::string::npos) << out();

    // A shell command that never returns cannot hold the run past its time.
    EXPECT_EQ(run(silent, {"--batch", "--timeout=1", script("hang.txt", "local ! exec sleep 6\n")}),
              3);
    EXPECT_LT(Clock::now() - started, milliseconds(10000));

    std::thread vanish([&] {
        std::this_thread::sleep_for(milliseconds(700));
        silent.closeMaster();
    });
    EXPECT_EQ(run(silent, {"--batch", "--fail-on=never", waits}), 4);
    vanish.join();
    EXPECT_NE(out().find("port lost\n"), std::string::npos) << out();
}

TEST_F(Batch, RunsWithoutATerminalAndSurvivesAClosedStdout) {
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    const std::string lines = script("lines.txt", "dw 80000000 1\nlocal echo done\n");

    // Standard input closed, standard output a pipe whose reader has gone: the
    // writes fail, the run goes on to its end and says how it went.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    BatchRun closed;
    closed.input = "";
    closed.outputFd = pipeFds[1];
    EXPECT_EQ(run(target, {"--batch", "--log", folder.file("log.txt"), lines}, closed), 0);
    ::close(pipeFds[1]);
    EXPECT_NE(readFile(folder.file("log.txt")).find("done\n"), std::string::npos);
    EXPECT_NE(textOf(target.bytes(sim::Direction::ToTarget)).find("dw 80000000 1\n"),
              std::string::npos);

    // On a terminal, the terminal's modes are left as they are.
    ConsoleProcess console;
    console.setConfigHome(folder.path());
    ASSERT_TRUE(console.start({"-p" + target.slavePath(), "--batch",
                               script("slow.txt", "local sleep 1 echo slept\n")}));
    std::this_thread::sleep_for(milliseconds(400));
    EXPECT_FALSE(console.terminalRaw());
    EXPECT_EQ(console.waitForExit(eventTimeout), 0) << console.screen();
    EXPECT_TRUE(console.terminalRestored());
}

TEST_F(Batch, TheLogHoldsTheScreenBytes) {
    sim::Options paced;
    paced.baud = 230400;  // slow enough for progress stars
    sim::SimTarget target(paced);
    ASSERT_TRUE(target.start());
    ASSERT_TRUE(writeFile(folder.file("data.bin"), patternBytes(8 * 2048 + 5, 3)));
    const std::string session = script("s.txt", "local dload " + folder.file("data.bin") +
                                                    " 80010000\nlocal load none.exe\n");
    const std::string log = folder.file("session.log");
    ASSERT_TRUE(writeFile(log, "kept\n"));
    EXPECT_EQ(run(target, {"--log", log, "--batch", session}), 2);
    EXPECT_EQ(readFile(log), "kept\n" + out()) << "appended, byte for byte";
    EXPECT_NE(out().find("*"), std::string::npos) << out();
    EXPECT_NE(out().find("file not found\n"), std::string::npos) << out();

    // Time stamps begin each line of the log, not of the screen.
    const std::string stamped = folder.file("stamped.log");
    EXPECT_EQ(run(target, {"--batch", "--log-timestamps", "--log=" + stamped, session}), 2);
    const std::string logged = readFile(stamped);
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    std::string unstamped;
    std::size_t lines = 0;
    for (std::size_t at = 0; at < logged.size(); ++lines) {
        ASSERT_TRUE(std::regex_match(logged.substr(at, 24), stamp)) << logged.substr(at, 40);
        const std::size_t end = logged.find('\n', at);
        const std::size_t next = end == std::string::npos ? logged.size() : end + 1;
        unstamped += logged.substr(at + 24, next - at - 24);
        at = next;
    }
    EXPECT_GT(lines, 4u);
    EXPECT_EQ(unstamped, out());
    EXPECT_EQ(out().find("\n20"), std::string::npos) << "no stamp on the screen";
}

TEST_F(Batch, ALogThatCannotBeKeptIsRefusedBeforeThePortOpens) {
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    const std::string lines = script("lines.txt", "dw 80000000 1\n");
    ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0600), 0);
    for (const std::string& path : {folder.path(), folder.file("no/such/folder/log"),
                                    folder.file("fifo"), target.slavePath(), lines}) {
        EXPECT_EQ(run(target, {"--batch", "--log", path, lines}), 1) << path;
        EXPECT_NE(err().find("cannot open log " + path + ": "), std::string::npos) << err();
        EXPECT_EQ(out(), "") << "nothing shown, the port not opened";
    }
    EXPECT_TRUE(target.bytes(sim::Direction::ToTarget).empty());

    // Bad options are refused the same way, before anything is stored.
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--batch"}, {"--batch", lines, "--timeout", "0"}, {"--log"}}) {
        EXPECT_EQ(run(target, bad), 1) << bad.back();
        EXPECT_NE(err().find("tolvanis: "), std::string::npos) << bad.back();
    }
    struct stat info {};
    EXPECT_NE(::stat((folder.path() + "/kembri/settings").c_str(), &info), 0) << "nothing stored";

    // Writes that fail (a full disk): one warning, and the session goes on,
    // but it ends as a failure.
    EXPECT_EQ(run(target, {"--batch", "--log", "/dev/full", script("two.txt", "dw 80000000 1\ndw 80000004 1\n")}),
              1);
    const std::string shown = out();
    const std::string warning = "cannot write the log (No space left on device), logging stopped\n";
    EXPECT_EQ(shown.find(warning), shown.rfind(warning)) << shown;
    EXPECT_NE(shown.find(warning), std::string::npos) << shown;
    EXPECT_NE(shown.find("80000004: "), std::string::npos) << shown;
    EXPECT_EQ(run(target, {"--batch", "--log", "/dev/full", script("f.txt", "local load none.exe\n")}), 2)
        << "a failed command outranks the log";
}

}  // namespace
