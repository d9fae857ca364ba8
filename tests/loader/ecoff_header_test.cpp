#include "loader/ecoff_file_job.h"

#include <gtest/gtest.h>

#include "tests/loader/loader_files.h"

namespace {

using loadertest::Bytes;
using loadertest::EcoffLayout;
using loadertest::ScratchDir;
using loadertest::section;

struct OpenedEcoff {
    explicit OpenedEcoff(const std::string& path) { opened = job.openFile(path.c_str()); }
    ~OpenedEcoff() {
        if (job.isOpen()) job.close();
    }
    EcoffFileJob job;
    bool opened = false;
};

EcoffLayout twoSections() {
    EcoffLayout layout;
    layout.entry = 0x80010010;
    layout.gpValue = 0x80028050;
    layout.sections.push_back(section(".text", 0x20, 0x80010000, loadertest::pattern(300, 1)));
    layout.sections.push_back(section(".bss", 0x80, 0x80020000, {}));
    return layout;
}

TEST(EcoffHeader, ReadsEntryGpAndTheSectionTable) {
    ScratchDir dir;
    EcoffLayout layout = twoSections();
    layout.sections[0].vaddr = 0x00010000;
    OpenedEcoff ecoff(dir.write("a.ecoff", loadertest::ecoffImage(layout)));
    ASSERT_TRUE(ecoff.opened);
    EXPECT_EQ(0x80010010u, ecoff.job.entry);
    EXPECT_EQ(0x80028050u, ecoff.job.gp);
    EXPECT_EQ(0x801ffff0u, ecoff.job.sp);
    ASSERT_EQ(2u, ecoff.job.sectionCount);
    const EcoffSectionHeader& text = ecoff.job.sections[0];
    EXPECT_STREQ(".text", reinterpret_cast<const char*>(text.name()));
    EXPECT_EQ(0x80010000u, text.physicalAddress());
    EXPECT_EQ(300u, text.size());
    EXPECT_EQ(76u + 2 * 40, text.filePosition());
    EXPECT_EQ(0x20u, text.flags());
    EXPECT_EQ(0x80u, ecoff.job.sections[1].flags());
}

TEST(EcoffHeader, AcceptsAnExecutableWithoutSections) {
    ScratchDir dir;
    EcoffLayout layout;
    OpenedEcoff ecoff(dir.write("empty.ecoff", loadertest::ecoffImage(layout)));
    EXPECT_TRUE(ecoff.opened);
    EXPECT_EQ(0u, ecoff.job.sectionCount);
}

TEST(EcoffHeader, RefusesWhatIsNotALinkedExecutable) {
    ScratchDir dir;
    EcoffLayout object = twoSections();
    object.optionalHeaderSize = 0;
    EXPECT_FALSE(OpenedEcoff(dir.write("object.ecoff", loadertest::ecoffImage(object))).opened);

    EcoffLayout otherHeader = twoSections();
    otherHeader.optionalHeaderSize = 72;
    EXPECT_FALSE(OpenedEcoff(dir.write("other.ecoff", loadertest::ecoffImage(otherHeader))).opened);

    EcoffLayout notExecutable = twoSections();
    notExecutable.flags = 0x0105;
    EXPECT_FALSE(OpenedEcoff(dir.write("noexec.ecoff", loadertest::ecoffImage(notExecutable))).opened);

    EcoffLayout executable = twoSections();
    executable.flags = 0x0107;
    EXPECT_TRUE(OpenedEcoff(dir.write("exec.ecoff", loadertest::ecoffImage(executable))).opened);
}

TEST(EcoffHeader, RefusesRecordsCutShortByTheEndOfTheFile) {
    ScratchDir dir;
    const Bytes whole = loadertest::ecoffImage(twoSections());
    // Inside the file header, the optional header and the section table;
    // the last size is the table less its final byte.
    for (std::size_t length : {2u, 19u, 20u, 75u, 76u, 115u, 155u}) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(OpenedEcoff(dir.write("cut.ecoff", cut)).opened) << length << " bytes";
    }
    EXPECT_TRUE(OpenedEcoff(dir.write("whole.ecoff", whole)).opened);
    // A loadable section's bytes must all be there before anything is sent.
    const Bytes tableOnly(whole.begin(), whole.begin() + 156);
    EXPECT_FALSE(OpenedEcoff(dir.write("table.ecoff", tableOnly)).opened);
    const Bytes textCut(whole.begin(), whole.end() - 1);
    EXPECT_FALSE(OpenedEcoff(dir.write("text.ecoff", textCut)).opened);
    Bytes farText = whole;
    loadertest::putLe32(farText, 76 + 20, 0xFFFFFF00);  // .text's file position
    EXPECT_FALSE(OpenedEcoff(dir.write("far.ecoff", farText)).opened);
    // A section that is not sent may point anywhere.
    Bytes farBss = whole;
    loadertest::putLe32(farBss, 76 + 40 + 20, 0xFFFFFF00);
    EXPECT_TRUE(OpenedEcoff(dir.write("bss.ecoff", farBss)).opened);
}

EcoffSectionHeader header(const char (&name)[9], std::uint32_t flags) {
    loadertest::Bytes raw(40, 0);
    std::memcpy(raw.data(), name, 8);
    loadertest::putLe32(raw, 36, flags);
    EcoffSectionHeader h{};
    std::memcpy(h.bytes, raw.data(), raw.size());
    return h;
}

TEST(EcoffSections, NeedTheirFlagAndExactlyTheirName) {
    EXPECT_TRUE(isLoadableSection(header(".text\0\0\0", 0x20)));
    EXPECT_TRUE(isLoadableSection(header(".rdata\0\0", 0x100)));
    EXPECT_TRUE(isLoadableSection(header(".data\0\0\0", 0x40)));
    EXPECT_TRUE(isLoadableSection(header(".sdata\0\0", 0x200)));
    EXPECT_TRUE(isLoadableSection(header(".data\0\0\0", 0x40 | 0x1000)));

    EXPECT_FALSE(isLoadableSection(header(".data\0\0\0", 0x20)));    // flag of another entry
    EXPECT_FALSE(isLoadableSection(header(".data\0\0\0", 0)));
    EXPECT_FALSE(isLoadableSection(header(".code\0\0\0", 0x20)));    // right flag, other name
    EXPECT_FALSE(isLoadableSection(header(".rodata\0", 0x40)));
    EXPECT_FALSE(isLoadableSection(header(".text.a\0", 0x20)));      // longer name
    EXPECT_FALSE(isLoadableSection(header(".tex\0\0\0\0", 0x20)));   // shorter name
    EXPECT_FALSE(isLoadableSection(header(".sbss\0\0\0", 0x400)));
    EXPECT_FALSE(isLoadableSection(header(".bss\0\0\0\0", 0x80)));
    // Eight name bytes and no terminator: not ".text" even though it starts so.
    EXPECT_FALSE(isLoadableSection(header(".textabc", 0x20)));
    // What follows the terminator is not part of the name.
    EXPECT_TRUE(isLoadableSection(header(".data\0xy", 0x40)));
}

}  // namespace
