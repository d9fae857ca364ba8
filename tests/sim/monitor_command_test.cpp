#include <gtest/gtest.h>

#include "tests/sim/monitor_feed.h"
#include "sim/registers.h"

using sim::Monitor;

TEST(MonitorCommands, GreetsWithBannerThenPrompt) {
    Monitor monitor;
    std::string out;
    monitor.greet(out);
    EXPECT_NE(out.find("monitor"), std::string::npos);
    EXPECT_TRUE(out.ends_with("\r\n>> "));
    EXPECT_EQ(count(out, ">>"), 1);
}

TEST(MonitorCommands, EchoesEachByteAndAnswersOneLineEndOnce) {
    Monitor monitor;
    EXPECT_EQ(feed(monitor, "dr"), "dr");
    // CR LF, a lone LF and a lone CR each end exactly one line.
    EXPECT_EQ(count(feed(monitor, "\r\n"), ">>"), 1);
    EXPECT_EQ(count(feed(monitor, "dr\n"), ">>"), 1);
    EXPECT_EQ(count(feed(monitor, "dr\r"), ">>"), 1);
    EXPECT_EQ(count(feed(monitor, "\n"), ">>"), 0);  // the LF of the CR before
    EXPECT_EQ(count(feed(monitor, "\n"), ">>"), 1);  // a second LF is an empty line
    EXPECT_EQ(feed(monitor, "\r"), "\r\n\r\n>> ");
}

TEST(MonitorCommands, SetsRegistersByAnyName) {
    Monitor monitor;
    const std::string out = feed(monitor, "sr epc 80010000\r");
    EXPECT_EQ(out, "sr epc 80010000\r\n\r\n>> ");
    const auto& regs = monitor.registers();
    EXPECT_EQ(regs.get(sim::RegisterFile::epcIndex), 0x80010000u);

    feed(monitor, "SR GP 0x8001ABCD\r");
    EXPECT_EQ(regs.get(28), 0x8001abcdu);
    feed(monitor, "sr r29 801ffff0\r");
    EXPECT_EQ(regs.get(*sim::RegisterFile::indexOf("sp")), 0x801ffff0u);
    feed(monitor, "sr fp 1\r");
    EXPECT_EQ(regs.get(*sim::RegisterFile::indexOf("s8")), 1u);
    feed(monitor, "sr hi ffffffff\rsr lo 2\rsr t9 3\rsr ra 4\r");
    EXPECT_EQ(regs.get(sim::RegisterFile::hiIndex), 0xffffffffu);
    EXPECT_EQ(regs.get(sim::RegisterFile::loIndex), 2u);
    EXPECT_EQ(regs.get(25), 3u);
    EXPECT_EQ(regs.get(31), 4u);
    // r0 is wired to zero.
    feed(monitor, "sr zero 5\r");
    EXPECT_EQ(regs.get(0), 0u);
}

TEST(MonitorCommands, RejectsBadRegisterCommandsWithAPrompt) {
    Monitor monitor;
    EXPECT_NE(feed(monitor, "sr pc 1\r").find("unknown register\r\n\r\n>> "), std::string::npos);
    EXPECT_NE(feed(monitor, "sr epc 123456789\r").find("bad value"), std::string::npos);
    EXPECT_NE(feed(monitor, "sr epc 12g\r").find("bad value"), std::string::npos);
    EXPECT_NE(feed(monitor, "sr epc 0x\r").find("bad value"), std::string::npos);
    EXPECT_NE(feed(monitor, "sr epc\r").find("usage"), std::string::npos);
    EXPECT_NE(feed(monitor, "sr r32 1\r").find("unknown register"), std::string::npos);
    EXPECT_EQ(monitor.registers().get(sim::RegisterFile::epcIndex), 0u);
}

TEST(MonitorCommands, ListsRegisters) {
    Monitor monitor;
    feed(monitor, "sr epc 80010000\rsr a0 deadbeef\r");
    const std::string out = feed(monitor, "dr\r");
    EXPECT_NE(out.find("epc=80010000"), std::string::npos);
    EXPECT_NE(out.find("a0=deadbeef"), std::string::npos);
    EXPECT_NE(out.find("ra=00000000"), std::string::npos);
    EXPECT_TRUE(out.ends_with("\r\n>> "));
}

TEST(MonitorCommands, DumpsLittleEndianWords) {
    Monitor monitor;
    const std::uint8_t bytes[] = {0x00, 0x01, 0x02, 0x03, 0xef, 0xbe, 0xad, 0xde};
    monitor.memory().write(0x80010000, bytes, sizeof bytes);
    const std::string out = feed(monitor, "dw 80010000 2\r");
    EXPECT_NE(out.find("80010000: 03020100 deadbeef\r\n"), std::string::npos) << out;
    // Sixteen words when no count is given: four lines.
    EXPECT_EQ(count(feed(monitor, "dw 0\r"), ": "), 4);
    // The dump wraps at the top of the address space.
    monitor.memory().write(0, bytes, 4);
    EXPECT_NE(feed(monitor, "dw fffffffc 2\r").find("fffffffc: 00000000 03020100"), std::string::npos);
    EXPECT_NE(feed(monitor, "dw\r").find("usage"), std::string::npos);
    EXPECT_NE(feed(monitor, "dw 0 0\r").find("bad count"), std::string::npos);
    EXPECT_NE(feed(monitor, "dw 0 1001\r").find("bad count"), std::string::npos);
    EXPECT_NE(feed(monitor, "dw zz\r").find("bad address"), std::string::npos);
}

TEST(MonitorCommands, HelpAndUnknownCommandsEndWithThePrompt) {
    Monitor monitor;
    const std::string help = feed(monitor, "help\r");
    for (const char* word : {"sr", "dr", "dw", "BWR", "BRD"}) EXPECT_NE(help.find(word), std::string::npos) << word;
    EXPECT_TRUE(help.ends_with("\r\n>> "));
    EXPECT_EQ(feed(monitor, "xyz\r"), "xyz\r\nunknown command\r\n\r\n>> ");
    // The exchange words are upper case only: a typed "bwr" opens nothing.
    feed(monitor, "bwr\r");
    EXPECT_FALSE(monitor.inExchange());
}

TEST(MonitorCommands, EditsTheLine) {
    Monitor monitor;
    // Backspace and DEL each remove one character; on an empty line nothing.
    const std::string out = feed(monitor, "\bsrx\b epc 12\x7f"
                                          "5\r");
    EXPECT_EQ(monitor.registers().get(sim::RegisterFile::epcIndex), 0x15u);
    EXPECT_EQ(count(out, "\b \b"), 2);
    // Control bytes and the abort byte are not part of a line and get no echo.
    EXPECT_EQ(feed(monitor, "d\x1b\xff\x01r"), "dr");
    EXPECT_NE(feed(monitor, "\r").find("epc=00000015"), std::string::npos);
}

TEST(MonitorCommands, OverlongLineRingsInsteadOfGrowing) {
    Monitor monitor;
    const std::string out = feed(monitor, std::string(Monitor::maxLineLength + 3, 'a'));
    // Still one byte back for each byte.
    EXPECT_EQ(out.size(), Monitor::maxLineLength + 3);
    EXPECT_EQ(count(out, "\a"), 3);
}

TEST(MonitorCommands, WrongEchoFaultGivesOneOtherByteForEachByte) {
    sim::Faults faults;
    faults.wrongEcho = true;
    Monitor monitor(faults);
    const std::string text = "sr epc 1\r";
    const std::string out = feed(monitor, text);
    ASSERT_GE(out.size(), text.size());
    for (std::size_t i = 0; i < text.size(); ++i) EXPECT_NE(out[i], text[i]) << i;
    EXPECT_EQ(out.substr(text.size()), "\r\n>> ");
    EXPECT_EQ(monitor.registers().get(sim::RegisterFile::epcIndex), 1u);
}

TEST(RegisterNames, KnowsTheMipsNames) {
    using sim::RegisterFile;
    EXPECT_EQ(RegisterFile::indexOf("zero"), 0);
    EXPECT_EQ(RegisterFile::indexOf("r0"), 0);
    EXPECT_EQ(RegisterFile::indexOf("r31"), 31);
    EXPECT_EQ(RegisterFile::indexOf("t8"), 24);
    EXPECT_EQ(RegisterFile::indexOf("k1"), 27);
    EXPECT_EQ(RegisterFile::indexOf("EPC"), RegisterFile::epcIndex);
    EXPECT_FALSE(RegisterFile::indexOf("r01"));
    EXPECT_FALSE(RegisterFile::indexOf("r"));
    EXPECT_FALSE(RegisterFile::indexOf("t10"));
    EXPECT_FALSE(RegisterFile::indexOf(""));
}
