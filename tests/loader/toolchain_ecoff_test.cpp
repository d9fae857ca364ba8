// ECOFF executables made by the GNU toolchain, loaded into the simulator.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

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
using loadertest::readAll;
using loadertest::run;

struct SectionRow {
    std::string name;
    std::uint32_t size = 0;
    std::uint32_t lma = 0;
    bool hasContents = false;
};

// The section table as objdump reads it.
std::vector<SectionRow> sectionRows(const std::string& listing) {
    std::vector<SectionRow> rows;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        int index = 0;
        SectionRow row;
        std::string vma;
        if (fields >> index >> row.name >> std::hex >> row.size >> vma >> row.lma) {
            std::string flags;
            std::getline(lines, flags);
            row.hasContents = flags.find("CONTENTS") != std::string::npos;
            rows.push_back(row);
        }
    }
    return rows;
}

std::uint32_t hexAfter(const std::string& text, const std::string& label) {
    const auto at = text.find(label);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << label << " in\n" << text;
        return 0;
    }
    return static_cast<std::uint32_t>(std::stoul(text.substr(at + label.size()), nullptr, 16));
}

class ToolchainLoad : public loadertest::ToolchainTest {
protected:
    void SetUp() override {
        ToolchainTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(target.start());
        ASSERT_TRUE(port.open(target.slavePath().c_str(), 115200));
        console.port = &port;
        loadertest::drainPort(port);
    }
    void TearDown() override { port.close(); }

    // Loads the executable and checks memory and registers against what
    // the toolchain says the file holds.
    void loadAndCheck(const std::string& ecoff, const std::set<std::string>& expectedLoaded,
                      std::uint32_t expectedGp) {
        std::string listing;
        ASSERT_TRUE(run(tools.objdump + " -h -f " + ecoff, &listing));
        const std::uint32_t entry = hexAfter(listing, "start address 0x");
        const std::vector<SectionRow> rows = sectionRows(listing);

        // Memory that skipped sections describe must stay as it was.
        const Bytes untouched(64, 0xA5);
        for (const SectionRow& row : rows) {
            if (expectedLoaded.count(row.name) == 0 && row.hasContents) {
                target.writeMemory(row.lma, untouched);
            }
        }

        EXPECT_TRUE(load(console, ecoff.c_str(), &port));
        EXPECT_EQ(0u, screen.text.find("kembri format\n"));
        EXPECT_EQ(std::string::npos, screen.text.find("failed"));

        std::set<std::string> loaded;
        for (const SectionRow& row : rows) {
            if (expectedLoaded.count(row.name) != 0) {
                const std::string image = dir.file("section.bin");
                ASSERT_TRUE(run(tools.objcopy + " -O binary -j " + row.name + " " + ecoff + " " + image));
                const Bytes expected = readAll(image);
                ASSERT_EQ(row.size, expected.size()) << row.name;
                EXPECT_EQ(expected, target.readMemory(row.lma, row.size)) << row.name;
                loaded.insert(row.name);
            } else if (row.hasContents) {
                EXPECT_EQ(untouched, target.readMemory(row.lma, 64)) << row.name << " was written";
            }
        }
        EXPECT_EQ(expectedLoaded, loaded);
        EXPECT_EQ(static_cast<int>(expectedLoaded.size()), target.exchangesCompleted());
        EXPECT_EQ(entry, target.reg("epc"));
        EXPECT_EQ(expectedGp, target.reg("gp"));
        EXPECT_EQ(0x801ffff0u, target.reg("sp"));
    }

    sim::SimTarget target;
    SerialPort port;
    fakes::ScriptedKeys keys;
    fakes::RecordingScreen screen;
    fakes::RecordingHost host;
    Console console{keys, screen, host};
};

TEST_F(ToolchainLoad, LinkedWithTheBoardScriptAllFourKindsOfSectionLoad) {
    // Linked straight to ECOFF, which keeps the link's gp in the file.
    const std::string ecoff = dir.file("board.ecoff");
    ASSERT_TRUE(run(tools.ld + " -T " + LOADER_FIXTURES + "/rdata.ld --oformat ecoff-littlemips -o " +
                    ecoff + " " + dir.file("program.o")));
    const std::uint32_t gp = gpSymbol(tools, ecoff);
    ASSERT_NE(0u, gp);
    loadAndCheck(ecoff, {".text", ".rdata", ".data", ".sdata"}, gp);
}

TEST_F(ToolchainLoad, ConvertedFromElfItsRodataAndElfSectionsAreSkipped) {
    const std::string elf = dir.file("program.elf");
    const std::string ecoff = dir.file("program.ecoff");
    ASSERT_TRUE(run(tools.ld + " -Ttext 0x80010000 -e _start -o " + elf + " " + dir.file("program.o")));
    ASSERT_TRUE(run(tools.objcopy + " -O ecoff-littlemips " + elf + " " + ecoff));
    // The conversion writes its own gp value into the optional header.
    const Bytes file = readAll(ecoff);
    ASSERT_GE(file.size(), 76u);
    const std::uint32_t gp = static_cast<std::uint32_t>(file[72]) | (file[73] << 8) |
                             (file[74] << 16) | (static_cast<std::uint32_t>(file[75]) << 24);
    loadAndCheck(ecoff, {".text", ".data", ".sdata"}, gp);
}

}  // namespace
