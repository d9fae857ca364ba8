// Reading ELF executables: which files are taken, what their headers give,
// and which are refused.
#include "loader/elf_file_job.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

#include "loader/detect_format.h"
#include "tests/loader/loader_files.h"

namespace {

using loadertest::Bytes;
using loadertest::ElfLayout;
using loadertest::ElfOffsets;
using loadertest::ScratchDir;
using loadertest::segment;

struct OpenedElf {
    explicit OpenedElf(const std::string& path) { opened = job.openFile(path.c_str()); }
    ~OpenedElf() {
        if (job.isOpen()) job.close();
    }
    ElfFileJob job;
    bool opened = false;
};

ElfLayout program() {
    ElfLayout layout;
    layout.entry = 0x80010040;
    layout.segments.push_back(segment(0x80010000, loadertest::pattern(3000, 1)));
    layout.segments.push_back(segment(0x80020000, loadertest::pattern(100, 2)));
    return layout;
}

TEST(ElfDetect, TakesOnlyLittleEndian32BitMipsExecutables) {
    ScratchDir dir;
    const auto formatOf = [&](const ElfLayout& layout) {
        return detectFormat(dir.write("a.elf", loadertest::elfImage(layout)).c_str());
    };
    EXPECT_EQ(ElfFormat, formatOf(program()));

    ElfLayout wide = program();
    wide.elfClass = 2;
    ElfLayout bigEndian = program();
    bigEndian.data = 2;
    ElfLayout otherMachine = program();
    otherMachine.machine = 62;
    ElfLayout object = program();
    object.type = 1;
    ElfLayout shared = program();
    shared.type = 3;
    for (const ElfLayout& layout : {wide, bigEndian, otherMachine, object, shared}) {
        EXPECT_EQ(UnknownFormat, formatOf(layout));
    }

    // Nineteen bytes cannot say which machine the file is for.
    Bytes cut = loadertest::elfImage(program());
    cut.resize(19);
    EXPECT_EQ(UnknownFormat, detectFormat(dir.write("cut.elf", cut).c_str()));
    cut = loadertest::elfImage(program());
    cut.resize(20);
    EXPECT_EQ(ElfFormat, detectFormat(dir.write("twenty.elf", cut).c_str()));
}

TEST(ElfHeader, KeepsLoadableSegmentsWithFileBytesInTableOrder) {
    ScratchDir dir;
    ElfLayout layout;
    layout.entry = 0x80030008;
    layout.segments.push_back(segment(0x80030000, loadertest::pattern(40, 3)));
    // Not loadable: a note and a register-information segment.
    layout.segments.push_back(segment(0x80040000, loadertest::pattern(8, 4)));
    layout.segments.back().type = 4;
    layout.segments.push_back(segment(0x80041000, loadertest::pattern(24, 5)));
    layout.segments.back().type = 0x70000000;
    // Loadable but all bss: nothing in the file to send.
    layout.segments.push_back(segment(0x80050000, {}));
    layout.segments.back().extraMemory = 0x400;
    // Sent to its physical address, with only its file bytes.
    layout.segments.push_back(segment(0x80010000, loadertest::pattern(500, 6)));
    layout.segments.back().vaddr = 0x00010000;
    layout.segments.back().extraMemory = 0x1000;

    OpenedElf elf(dir.write("a.elf", loadertest::elfImage(layout)));
    ASSERT_TRUE(elf.opened);
    EXPECT_EQ(0x80030008u, elf.job.entry);
    EXPECT_EQ(0x801ffff0u, elf.job.sp);
    EXPECT_EQ(0u, elf.job.gp);
    ASSERT_EQ(2u, elf.job.segments.size());
    EXPECT_EQ(0x80030000u, elf.job.segments[0].physicalAddress);
    EXPECT_EQ(40u, elf.job.segments[0].fileSize);
    EXPECT_EQ(52u + 5 * 32, elf.job.segments[0].fileOffset);
    EXPECT_EQ(0x80010000u, elf.job.segments[1].physicalAddress);
    EXPECT_EQ(500u, elf.job.segments[1].fileSize);
    EXPECT_EQ(52u + 5 * 32 + 40 + 8 + 24, elf.job.segments[1].fileOffset);
}

TEST(ElfHeader, GpComesFromRegisterInfoThenTheGpSymbolThenIsZero) {
    ScratchDir dir;
    const auto gpOf = [&](const ElfLayout& layout) {
        OpenedElf elf(dir.write("gp.elf", loadertest::elfImage(layout)));
        EXPECT_TRUE(elf.opened);
        return elf.job.gp;
    };
    ElfLayout layout = program();
    layout.symbols = {{"_start", 0x80010040}, {"_gp", 0x80028000}};
    EXPECT_EQ(0x80028000u, gpOf(layout));

    layout.hasRegisterInfo = true;
    layout.registerInfoGp = 0x80027ff0;
    EXPECT_EQ(0x80027ff0u, gpOf(layout)) << "the link's record wins over the symbol";

    // Names that only start like _gp, and an undefined _gp, are not it.
    ElfLayout lookalikes = program();
    lookalikes.symbols = {{"_gp_disp", 1}, {"__gp", 2}, {"_g", 3}, {"_gp", 4, 0}};
    EXPECT_EQ(0u, gpOf(lookalikes));

    ElfLayout stripped = program();
    stripped.hasSections = false;
    EXPECT_EQ(0u, gpOf(stripped));
}

TEST(ElfHeader, RefusesTablesAndSegmentsOutsideTheFile) {
    ScratchDir dir;
    const Bytes good = loadertest::elfImage(program());
    const auto patched = [&](std::size_t at, std::uint32_t value, int width) {
        Bytes bytes = good;
        if (width == 2) {
            loadertest::putLe16(bytes, at, value);
        } else {
            loadertest::putLe32(bytes, at, value);
        }
        return bytes;
    };
    const auto size = static_cast<std::uint32_t>(good.size());
    struct Case {
        const char* what;
        Bytes image;
    };
    Bytes cutHeader = good;
    cutHeader.resize(51);
    // Without sections, so that the segment is the only thing cut.
    ElfLayout bare = program();
    bare.hasSections = false;
    Bytes cutSegment = loadertest::elfImage(bare);
    cutSegment.pop_back();
    const Case cases[] = {
        {"header cut short", cutHeader},
        {"program table beyond the end", patched(ElfOffsets::programTableField, size, 4)},
        {"program count beyond the end", patched(ElfOffsets::programCountField, 0xffff, 2)},
        {"program entries too short", patched(ElfOffsets::programEntrySizeField, 16, 2)},
        {"segment offset beyond the end", patched(ElfOffsets::segmentField(1, 4), size - 10, 4)},
        {"segment size beyond the end", patched(ElfOffsets::segmentField(0, 16), 0xffffffff, 4)},
        {"segment bytes cut short", cutSegment},
        {"section table beyond the end", patched(ElfOffsets::sectionTableField, size - 39, 4)},
        {"section count beyond the end", patched(ElfOffsets::sectionCountField, 0x4000, 2)},
        {"relocatable object", patched(16, 1, 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenedElf elf(dir.write("bad.elf", c.image));
        EXPECT_FALSE(elf.opened);
    }
    OpenedElf fine(dir.write("good.elf", good));
    EXPECT_TRUE(fine.opened);
}

TEST(ElfHeader, RefusesNameAndSymbolTablesOutsideTheFile) {
    ScratchDir dir;
    ElfLayout layout = program();
    layout.hasRegisterInfo = true;
    layout.symbols = {{"_gp", 5}};
    const Bytes good = loadertest::elfImage(layout);
    const std::size_t sectionTable = good.size() - 5 * 40;
    const auto withField = [&](std::size_t section, std::size_t field, std::uint32_t value) {
        Bytes bytes = good;
        loadertest::putLe32(bytes, sectionTable + 40 * section + field, value);
        return dir.write("bad.elf", bytes);
    };
    // Sections: null, .reginfo, .symtab, .strtab, .shstrtab.
    EXPECT_FALSE(OpenedElf(withField(4, 16, 0x7ffffff0)).opened) << "section names";
    EXPECT_FALSE(OpenedElf(withField(1, 16, static_cast<std::uint32_t>(good.size()) - 8)).opened)
        << ".reginfo";

    // Without .reginfo's name, the symbol table is read; it must be whole.
    Bytes unnamed = good;
    loadertest::putLe32(unnamed, sectionTable + 40 + 0, 0);
    ASSERT_TRUE(OpenedElf(dir.write("sym.elf", unnamed)).opened);
    EXPECT_EQ(5u, OpenedElf(dir.write("sym.elf", unnamed)).job.gp);
    loadertest::putLe32(unnamed, sectionTable + 40 * 2 + 20, 0x10000000);
    EXPECT_FALSE(OpenedElf(dir.write("sym.elf", unnamed)).opened) << "symbols";
}

TEST(ElfHeader, ManySymbolTablesOverTheWholeFileTakeLinearTime) {
    ScratchDir dir;
    ElfLayout layout = program();
    layout.symbols = {{"_start", 0x80010040}};
    Bytes image = loadertest::elfImage(layout);
    // Sections: null, .symtab, .strtab, .shstrtab; then thousands more that
    // each call the whole file a symbol table, in a table of their own at
    // the end of the file.
    constexpr std::uint32_t Extra = 6000;
    const std::size_t oldTable = image.size() - 4 * 40;
    Bytes table(image.begin() + static_cast<std::ptrdiff_t>(oldTable), image.end());
    const auto fileSize = static_cast<std::uint32_t>(image.size() + (4 + Extra) * 40);
    for (std::uint32_t i = 0; i < Extra; ++i) {
        Bytes entry(40, 0);
        loadertest::putLe32(entry, 4, 2);  // a symbol table
        loadertest::putLe32(entry, 20, fileSize & ~15u);
        loadertest::putLe32(entry, 24, 2);  // names in .strtab
        loadertest::putLe32(entry, 36, 16);
        table.insert(table.end(), entry.begin(), entry.end());
    }
    loadertest::putLe32(image, ElfOffsets::sectionTableField, static_cast<std::uint32_t>(image.size()));
    loadertest::putLe16(image, ElfOffsets::sectionCountField, 4 + Extra);
    image.insert(image.end(), table.begin(), table.end());
    ASSERT_EQ(image.size(), fileSize);

    const auto started = std::chrono::steady_clock::now();
    OpenedElf elf(dir.write("tables.elf", image));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    std::cout << "[ measured ] ELF header work with " << Extra + 4 << " sections over "
              << image.size() << " bytes: " << took.count() << " ms\n";
    EXPECT_TRUE(elf.opened);
    EXPECT_EQ(0u, elf.job.gp);
    // Reading every table would take minutes; the first alone, milliseconds.
    EXPECT_LT(took.count(), 500);
}

}  // namespace
