// ELF executables made by the GNU toolchain: loaded as they are, they leave
// the board as their ECOFF forms do.
#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "loader/load_command.h"
#include "serial/serial_port.h"
#include "sim/sim_target.h"
#include "tests/loader/loader_files.h"
#include "tests/loader/toolchain.h"
#include "tests/support/fakes.h"

namespace {

using loadertest::Bytes;
using loadertest::gpSymbol;
using loadertest::run;

// Everything the board script places lies in here.
constexpr std::uint32_t ProgramArea = 0x80000000;
constexpr std::uint32_t ProgramAreaSize = 0x40000;

// What a board holds after one load.
struct Board {
    std::string screen;
    bool loaded = false;
    int exchanges = 0;
    Bytes memory;
    std::uint32_t epc = 0;
    std::uint32_t gp = 0;
    std::uint32_t sp = 0;
};

Board loadIntoFreshBoard(const std::string& file) {
    Board board;
    sim::SimTarget target;
    SerialPort port;
    if (!target.start() || !port.open(target.slavePath().c_str(), 115200)) {
        ADD_FAILURE() << "no simulated board";
        return board;
    }
    fakes::ScriptedKeys keys;
    fakes::RecordingScreen screen;
    fakes::RecordingHost host;
    Console console{keys, screen, host};
    console.port = &port;
    loadertest::drainPort(port);
    board.loaded = load(console, file.c_str(), &port);
    board.screen = screen.text;
    board.exchanges = target.exchangesCompleted();
    board.memory = target.readMemory(ProgramArea, ProgramAreaSize);
    board.epc = target.reg("epc");
    board.gp = target.reg("gp");
    board.sp = target.reg("sp");
    port.close();
    target.stop();
    return board;
}

// The first difference, as something a reader can find in a listing.
std::string firstDifference(const Bytes& a, const Bytes& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) {
            char text[64];
            std::snprintf(text, sizeof text, "first difference at %08x", ProgramArea + unsigned(i));
            return text;
        }
    }
    return a.size() == b.size() ? "same" : "sizes differ";
}

class ToolchainElf : public loadertest::ToolchainTest {
protected:
    std::string link(const char* script, const std::string& name, const char* format = nullptr) {
        const std::string out = dir.file(name);
        std::string command = tools.ld + " -T " + LOADER_FIXTURES + "/" + script;
        if (format != nullptr) command += std::string(" --oformat ") + format;
        EXPECT_TRUE(run(command + " -o " + out + " " + object));
        return out;
    }

    // The same bytes in the same places, and the same start, from both.
    void expectSameBoard(const Board& fromElf, const Board& fromEcoff) {
        expectElfLoaded(fromElf);
        EXPECT_TRUE(fromEcoff.loaded) << fromEcoff.screen;
        EXPECT_TRUE(fromElf.memory == fromEcoff.memory)
            << firstDifference(fromElf.memory, fromEcoff.memory);
        EXPECT_EQ(fromEcoff.epc, fromElf.epc);
        EXPECT_EQ(fromEcoff.sp, fromElf.sp);
    }

    void expectElfLoaded(const Board& board) {
        EXPECT_TRUE(board.loaded) << board.screen;
        EXPECT_EQ(0u, board.screen.find("ELF format\n")) << board.screen;
        EXPECT_EQ(2, board.exchanges) << "one for the code segment, one for the data segment";
        EXPECT_NE(Bytes(ProgramAreaSize, 0), board.memory);
    }
};

TEST_F(ToolchainElf, LeavesTheBoardAsTheSameProgramLinkedToEcoff) {
    const std::string elf = link("board-elf.ld", "board.elf");
    const std::string ecoff = link("rdata.ld", "board.ecoff", "ecoff-littlemips");

    const Board fromElf = loadIntoFreshBoard(elf);
    const Board fromEcoff = loadIntoFreshBoard(ecoff);
    expectSameBoard(fromElf, fromEcoff);
    EXPECT_EQ(fromEcoff.gp, fromElf.gp);
    // The gp came from the ELF's register information, which is the link's _gp.
    EXPECT_EQ(gpSymbol(tools, elf), fromElf.gp);
    EXPECT_NE(0u, fromElf.gp);
}

TEST_F(ToolchainElf, LeavesTheSameBytesAsItsObjcopyConversion) {
    const std::string elf = link("board-elf.ld", "board.elf");
    const std::string ecoff = dir.file("converted.ecoff");
    ASSERT_TRUE(run(tools.objcopy + " -O ecoff-littlemips " + elf + " " + ecoff));

    const Board fromElf = loadIntoFreshBoard(elf);
    const Board fromEcoff = loadIntoFreshBoard(ecoff);
    expectSameBoard(fromElf, fromEcoff);
    // objcopy's conversion writes no gp of its own, so only the ELF has one.
}

TEST_F(ToolchainElf, WithoutRegisterInformationGpIsTheSymbolAndStrippedItIsZero) {
    // The ECOFF board script discards .reginfo, and the ELF keeps _gp.
    const std::string elf = link("rdata.ld", "noreginfo.elf");
    const Board withSymbol = loadIntoFreshBoard(elf);
    expectElfLoaded(withSymbol);
    EXPECT_NE(0u, gpSymbol(tools, elf));
    EXPECT_EQ(gpSymbol(tools, elf), withSymbol.gp);

    const std::string stripped = dir.file("stripped.elf");
    ASSERT_TRUE(run(tools.objcopy + " --strip-all " + elf + " " + stripped));
    ASSERT_EQ(0u, gpSymbol(tools, stripped));
    const Board bare = loadIntoFreshBoard(stripped);
    expectElfLoaded(bare);
    EXPECT_EQ(0u, bare.gp);
    EXPECT_TRUE(bare.memory == withSymbol.memory);
    EXPECT_EQ(withSymbol.epc, bare.epc);
}

}  // namespace
