// The Windows build under Wine, end to end: tolvanis.exe on a Wine console
// (a pseudo-terminal), its COM1 the simulated target.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/loader/loader_files.h"
#include "sim/sim_target.h"
#include "tests/support/qemu_board.h"
#include "tests/support/ser2net_server.h"
#include "tests/windows/wine_fixture.h"
#include "tests/windows/wine_session.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// xterm's keys; Wine's console turns them into key events.
constexpr const char* F1 = "\x1bOP";
constexpr const char* F2 = "\x1bOQ";
constexpr const char* F10 = "\x1b[21~";
constexpr const char* Alt1 = "\x1b" "1";

using winetest::contains;
using winetest::fromEnvironment;
using winetest::prefix;
using winetest::Wine;

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

TEST_F(Wine, WindowsUnitTestsPass) {
    const std::string tests = fromEnvironment("TOLVANIS_WINDOWS_TESTS");
    ASSERT_FALSE(tests.empty()) << "TOLVANIS_WINDOWS_TESTS names no test program";
    const auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("unit");
    // Colours would be escape sequences that a Windows console shows as text.
    wine::ConsoleProgram program(*prefix, {tests, "--gtest_color=no"}, folder,
                                 {{"TOLVANIS_TEST_PORT", "COM1"}});
    ASSERT_TRUE(program.started());
    EXPECT_EQ(0, program.waitForExit(300s)) << program.screen();
    const std::string shown = program.normalisedScreen();
    EXPECT_TRUE(contains(shown, "[ PASSED ]")) << program.screen();
    // Neither the console nor the port were missing.
    EXPECT_FALSE(contains(shown, "standard input is not a console")) << program.screen();
    EXPECT_FALSE(contains(shown, "names no simulated target")) << program.screen();
}

TEST_F(Wine, SettingsAreStoredInTheRegistryAndUsedAtTheNextStart) {
    const std::string port = prefix->absentPort();
    ASSERT_FALSE(port.empty());
    const std::string folder = prefix->makeWorkFolder("settings");
    const std::regex banner("TOLVANIS kembri console - [A-Z][a-z]{2} \\d{1,2} \\d{4} - port " + port +
                            " baud 9600 press F1 for help cannot open port");
    {
        wine::ConsoleProgram program(*prefix, {console, "-p" + port, "-b9600"}, folder);
        ASSERT_TRUE(program.started());
        EXPECT_EQ(1, program.waitForExit(60s)) << program.screen();
        EXPECT_TRUE(std::regex_search(program.normalisedScreen(), banner)) << program.screen();
    }

    const wine::CommandResult query = prefix->wine({"reg", "query", "HKLM\\SOFTWARE\\Kembri"});
    ASSERT_EQ(0, query.exitCode) << query.output;
    const std::string stored = wine::normalised(query.output);
    EXPECT_TRUE(contains(stored, "tolvanisBaud REG_DWORD 0x2580")) << query.output;
    // The next start opens what is stored; it must be the port without a device.
    ASSERT_TRUE(contains(stored, "tolvanisPort REG_SZ " + port)) << query.output;

    wine::ConsoleProgram program(*prefix, {console}, folder);
    ASSERT_TRUE(program.started());
    EXPECT_EQ(1, program.waitForExit(60s)) << program.screen();
    EXPECT_TRUE(std::regex_search(program.normalisedScreen(), banner)) << program.screen();
}

// A raw file, an ECOFF and an ELF with a gp, and the script that loads them.
struct ScriptFiles {
    Bytes data = loadertest::pattern(5000, 11);
    loadertest::EcoffLayout program;
    loadertest::ElfLayout elf;

    bool writeTo(const std::string& folder) {
        program.entry = 0x80040010;
        program.gpValue = 0x80058000;
        program.sections.push_back(loadertest::section(".text", 0x20, 0x80040000, loadertest::pattern(4096, 12)));
        program.sections.push_back(loadertest::section(".data", 0x40, 0x80050000, loadertest::pattern(2500, 13)));
        elf.entry = 0x80060020;
        elf.segments.push_back(loadertest::segment(0x80060000, loadertest::pattern(3000, 14)));
        elf.segments.push_back(loadertest::segment(0x80070000, loadertest::pattern(700, 15)));
        elf.hasRegisterInfo = true;
        elf.registerInfoGp = 0x80077ff0;
        const Bytes image = loadertest::ecoffImage(program);
        const Bytes elfImage = loadertest::elfImage(elf);
        return wine::writeFile(folder + "/data.bin", std::string(data.begin(), data.end())) &&
               wine::writeFile(folder + "/prog.ecoff", std::string(image.begin(), image.end())) &&
               wine::writeFile(folder + "/prog.elf", std::string(elfImage.begin(), elfImage.end())) &&
               wine::writeFile(folder + "/session.txt", wine::windowsLines({
                                                            "local dload data.bin 80020000",
                                                            "dw 80020000 4",
                                                            "local load prog.ecoff",
                                                            "dr",
                                                            "local load prog.elf",
                                                            "local dsave saved.bin 80020000 1388",
                                                            "local echo all done",
                                                            "local quit",
                                                        }));
    }
};

TEST_F(Wine, ScriptLoadsAndSavesMemoryThroughTheSimulatedTarget) {
    const auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("script");
    ScriptFiles files;
    ASSERT_TRUE(files.writeTo(folder));
    const Bytes& data = files.data;
    const loadertest::EcoffLayout& program = files.program;
    const loadertest::ElfLayout& elf = files.elf;

    wine::ConsoleProgram session(*prefix, {console, "-pCOM1", "-b115200", "session.txt"}, folder);
    ASSERT_TRUE(session.started());
    // dload, two sections, two segments, dsave; then the echo, and the
    // prompt after it that runs "local quit".
    ASSERT_TRUE(session.waitUntil([&] { return target->exchangesCompleted() == 6; }, 90s))
        << target->exchangesCompleted() << " exchanges\n"
        << session.screen();
    const auto promptAfterEcho = [&] {
        const std::string shown = session.normalisedScreen();
        const std::size_t echoed = shown.rfind("all done");
        return echoed != std::string::npos && shown.size() >= 2 &&
               shown.compare(shown.size() - 2, 2, ">>") == 0 && shown.rfind(">>") > echoed;
    };
    ASSERT_TRUE(session.waitUntil(promptAfterEcho, 20s)) << session.screen();

    EXPECT_EQ(data, target->readMemory(0x80020000, 5000));
    EXPECT_EQ(program.sections[0].data, target->readMemory(0x80040000, 4096));
    EXPECT_EQ(program.sections[1].data, target->readMemory(0x80050000, 2500));
    EXPECT_EQ(elf.segments[0].data, target->readMemory(0x80060000, 3000));
    EXPECT_EQ(elf.segments[1].data, target->readMemory(0x80070000, 700));
    // The ELF loaded last: its registers stand.
    EXPECT_EQ(0x80060020u, target->reg("epc"));
    EXPECT_EQ(0x80077ff0u, target->reg("gp"));
    EXPECT_EQ(0x801ffff0u, target->reg("sp"));
    EXPECT_EQ(std::string(data.begin(), data.end()), wine::readFile(folder + "/saved.bin"));

    // The target's answers to the plain lines, as the console printed them.
    std::string dumped = "80020000:";
    for (int word = 0; word < 4; ++word) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | data[static_cast<std::size_t>(word * 4 + i)];
        dumped += " " + hex8(value);
    }
    const std::string shown = session.normalisedScreen();
    EXPECT_TRUE(contains(shown, dumped)) << session.screen();
    EXPECT_TRUE(contains(shown, "kembri format")) << session.screen();
    EXPECT_TRUE(contains(shown, "ELF format")) << session.screen();
    EXPECT_TRUE(contains(shown, "epc=80040010")) << session.screen();

    // The script has ended; the console goes on until the quit chord.
    session.type(std::string(F10) + F2);
    EXPECT_EQ(0, session.waitForExit(20s)) << session.screen();
}

TEST_F(Wine, KeyboardChordsOnTheWineConsole) {
    const auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("keys");
    wine::ConsoleProgram program(*prefix, {console, "-pCOM1", "-b115200"}, folder);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForEnding(">>", 30s)) << program.screen();

    const std::string help = "options -bBAUDRATE -pPORT e.g. -pCOM1 -b115200";
    program.type(F1);
    // The help, then the prompt that its carriage return brings.
    ASSERT_TRUE(program.waitForEnding(help + " >>", 20s)) << program.screen();
    EXPECT_TRUE(contains(program.normalisedScreen(), "[F10]+ help quit dsave")) << program.screen();

    // Ctrl+C reaches Wine's console as a control event; the console stays.
    program.type("\x03");
    program.type("dw 80020000 2\r");
    ASSERT_TRUE(program.waitForText("80020000: 00000000 00000000", 20s)) << program.screen();
    ASSERT_TRUE(program.waitForEnding(">>", 20s)) << program.screen();
    const Bytes sent = target->bytes(sim::Direction::ToTarget);
    EXPECT_NE(std::string::npos, std::string(sent.begin(), sent.end()).find("dw 80020000 2\r"));

    // Alt+1 stands for F1 where a terminal keeps F1 for itself.
    program.type(Alt1);
    ASSERT_TRUE(program.waitUntil([&] { return occurrences(program.normalisedScreen(), help) == 2; }, 20s))
        << program.screen();
    ASSERT_TRUE(program.waitForEnding(help + " >>", 20s)) << program.screen();

    program.type(std::string(F10) + F2);
    EXPECT_EQ(0, program.waitForExit(20s)) << program.screen();
}

TEST_F(Wine, ProgramLoadedOnTheBoardRuns) {
    const std::string missing = e2e::QemuBoard::missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    e2e::QemuBoard board;
    ASSERT_TRUE(board.start()) << board.error();
    // COM1 is the link; this time it leads to the board's port.
    std::error_code error;
    std::filesystem::remove(prefix->comLink(), error);
    std::filesystem::create_symlink(board.port(), prefix->comLink(), error);
    ASSERT_FALSE(error) << error.message();
    const std::string folder = prefix->makeWorkFolder("board");
    std::filesystem::copy_file(e2e::QemuBoard::example("hello.exe"), folder + "/hello.exe", error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_TRUE(wine::writeFile(folder + "/board.txt", wine::windowsLines({
                                                           "local load hello.exe",
                                                           "g",
                                                           "local echo board done",
                                                           "local quit",
                                                       })));

    wine::ConsoleProgram session(*prefix, {console, "-pCOM1", "-b115200", "board.txt"}, folder);
    ASSERT_TRUE(session.started());
    // The script ends at the prompt after its echo; the console goes on
    // until the quit chord.
    ASSERT_TRUE(session.waitForText("board done", 60s)) << session.screen();
    ASSERT_TRUE(session.waitForEnding(">>", 20s)) << session.screen();
    session.type(std::string(F10) + F2);
    EXPECT_EQ(0, session.waitForExit(20s)) << session.screen();
    const std::string shown = session.normalisedScreen();
    EXPECT_TRUE(contains(shown, "QORA-EXE format")) << session.screen();
    EXPECT_TRUE(contains(shown, "hello from the board")) << session.screen();
    // The EXE names its own stack; gp is the one the program was linked with.
    EXPECT_TRUE(contains(shown, "as linked, sp 801f8000")) << session.screen();
    EXPECT_TRUE(contains(shown, "program returned 0000002a")) << session.screen();
    EXPECT_TRUE(contains(shown, "board done")) << session.screen();
    std::filesystem::remove(prefix->comLink(), error);
}

TEST_F(Wine, TransfersThroughSer2netOverRfc2217) {
    if (e2e::Ser2net::program().empty()) GTEST_SKIP() << "ser2net is not installed";
    const std::string folder = prefix->makeWorkFolder("network");
    sim::Options options;
    options.linkPath = folder + "/line";
    sim::SimTarget target(options);
    ASSERT_TRUE(target.start());
    e2e::Ser2net server(options.linkPath, folder);
    ASSERT_TRUE(server.start()) << server.error();
    // Every byte value, 0xFF among them, which telnet escapes.
    Bytes data = loadertest::pattern(4000, 21);
    for (int value = 0; value < 256; ++value) data.push_back(static_cast<std::uint8_t>(value));
    data.insert(data.end(), 300, 0xff);
    ASSERT_TRUE(wine::writeFile(folder + "/data.bin", std::string(data.begin(), data.end())));
    char length[16];
    std::snprintf(length, sizeof length, "%zx", data.size());
    ASSERT_TRUE(wine::writeFile(folder + "/session.txt",
                                wine::windowsLines({"local dload data.bin 80020000",
                                                    std::string("local dsave saved.bin 80020000 ") + length,
                                                    "local echo all done"})));

    wine::ConsoleProgram session(*prefix, {console, "-p" + server.rfc2217Url(), "-b115200", "session.txt"},
                                 folder);
    ASSERT_TRUE(session.started());
    ASSERT_TRUE(session.waitForText("port " + server.rfc2217Url() + " baud 115200", 30s)) << session.screen();
    ASSERT_TRUE(session.waitUntil([&] { return target.exchangesCompleted() == 2; }, 90s))
        << target.exchangesCompleted() << " exchanges\n" << session.screen() << server.log();
    ASSERT_TRUE(session.waitForText("all done", 20s)) << session.screen();
    EXPECT_EQ(data, target.readMemory(0x80020000, std::uint32_t(data.size())));
    EXPECT_EQ(std::string(data.begin(), data.end()), wine::readFile(folder + "/saved.bin"));
    EXPECT_FALSE(contains(session.normalisedScreen(), "transfer failed")) << session.screen();
    // The script has ended with the echo; at the prompt after it, the quit chord.
    ASSERT_TRUE(session.waitForEnding(">>", 20s)) << session.screen();
    session.type(std::string(F10) + F2);
    EXPECT_EQ(0, session.waitForExit(20s)) << session.screen();
}

TEST_F(Wine, BatchRunsKeepALogAndEndWithTheScriptsStatus) {
    const auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("batch");
    const Bytes data = loadertest::pattern(5000, 21);
    ASSERT_TRUE(wine::writeFile(folder + "/data.bin", std::string(data.begin(), data.end())));
    ASSERT_TRUE(wine::writeFile(folder + "/good.txt",
                                wine::windowsLines({"local dload data.bin 80020000", "dw 80020000 1"})));
    ASSERT_TRUE(wine::writeFile(folder + "/bad.txt",
                                wine::windowsLines({"local load none.exe", "local echo not reached"})));
    {
        wine::ConsoleProgram run(*prefix,
                                 {console, "-pCOM1", "--batch", "--log", "good.log", "--log-timestamps",
                                  "good.txt"},
                                 folder);
        ASSERT_TRUE(run.started());
        EXPECT_EQ(0, run.waitForExit(60s)) << run.screen();
    }
    EXPECT_EQ(data, target->readMemory(0x80020000, 5000));
    const std::string logged = wine::readFile(folder + "/good.log").value_or("");
    EXPECT_TRUE(std::regex_search(logged, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} TOLVANIS)")))
        << logged;
    EXPECT_NE(std::string::npos, logged.find("80020000: ")) << logged;

    wine::ConsoleProgram run(*prefix, {console, "-pCOM1", "--batch", "--log=bad.log", "bad.txt"}, folder);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(2, run.waitForExit(60s)) << run.screen();
    const std::string failed = wine::readFile(folder + "/bad.log").value_or("");
    EXPECT_NE(std::string::npos, failed.find("file not found")) << failed;
    EXPECT_EQ(std::string::npos, failed.find("not reached")) << failed;
}

TEST_F(Wine, BatchVerdictsComeFromTheTargetsLines) {
    const auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("verdicts");
    ASSERT_TRUE(wine::writeFile(folder + "/dump.txt", wine::windowsLines({"dw 80020000 1"})));
    for (const auto& [option, status] : {std::pair{"--expect=^80020000: ", 0}, {"--fail-on=^80020000: ", 5}}) {
        wine::ConsoleProgram run(*prefix, {console, "-pCOM1", "--batch", "--timeout=30", option, "dump.txt"},
                                 folder);
        ASSERT_TRUE(run.started());
        EXPECT_EQ(status, run.waitForExit(60s)) << option << run.screen();
    }
}

TEST_F(Wine, APortThatGoesAwayIsWaitedForAndReopened) {
    auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("reconnect");
    wine::ConsoleProgram program(*prefix, {console, "-pCOM1"}, folder);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForEnding(">>", 30s)) << program.screen();

    target.reset();  // the device goes, and its name with it
    ASSERT_TRUE(program.waitForText("port lost, waiting for it", 20s)) << program.screen();
    target = startTarget();
    ASSERT_NE(nullptr, target);
    ASSERT_TRUE(program.waitForText("port back", 20s)) << program.screen();
    program.type("dw 80020000 1\r");
    ASSERT_TRUE(program.waitForText("80020000: 00000000", 20s)) << program.screen();
    ASSERT_TRUE(program.waitForEnding(">>", 20s)) << program.screen();

    program.type(std::string(F10) + F2);
    EXPECT_EQ(0, program.waitForExit(20s)) << program.screen();
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new winetest::PrefixEnvironment);
    return RUN_ALL_TESTS();
}
