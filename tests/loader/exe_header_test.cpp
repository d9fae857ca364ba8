#include "loader/exe_file_job.h"

#include <gtest/gtest.h>

#include "tests/loader/loader_files.h"

namespace {

using loadertest::Bytes;
using loadertest::ExeLayout;
using loadertest::ScratchDir;

struct OpenedExe {
    explicit OpenedExe(const std::string& path) { opened = job.openFile(path.c_str()); }
    ~OpenedExe() {
        if (job.isOpen()) job.close();
    }
    ExeFileJob job;
    bool opened = false;
};

TEST(ExeHeader, GivesEntryGpAndTheProgramData) {
    ScratchDir dir;
    ExeLayout layout;
    layout.initialPc = 0x80012340;
    layout.initialGp = 0x8001abcd;
    layout.loadAddress = 0x80020000;
    layout.data = Bytes(0x1234, 0x5a);
    OpenedExe exe(dir.write("a.exe", loadertest::exeImage(layout)));
    ASSERT_TRUE(exe.opened);
    EXPECT_EQ(0x80012340u, exe.job.entry);
    EXPECT_EQ(0x8001abcdu, exe.job.gp);
    EXPECT_EQ(0x80020000u, exe.job.loadAddress);
    EXPECT_EQ(0x1234u, exe.job.loadSize);
}

TEST(ExeHeader, StackPointerIsStackTopOrTheDefaultWhenThatIsZero) {
    struct Case {
        std::uint32_t base, size, sp;
    };
    const Case cases[] = {
        {0, 0, 0x801ffff0},
        {0x801f0000, 0x8000, 0x801f8000},
        {0xfffffff0, 0x10, 0x801ffff0},  // wraps to 0
        {0xfffffff0, 0x20, 0x10},
        {0x80100000, 0, 0x80100000},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        ExeLayout layout;
        layout.stackBase = c.base;
        layout.stackSize = c.size;
        OpenedExe exe(dir.write("sp.exe", loadertest::exeImage(layout)));
        ASSERT_TRUE(exe.opened);
        EXPECT_EQ(c.sp, exe.job.sp) << std::hex << c.base << " + " << c.size;
    }
}

TEST(ExeHeader, RefusesAHeaderOrDataCutShortAndAMissingFile) {
    ScratchDir dir;
    Bytes image = loadertest::exeImage(ExeLayout{});
    image.resize(135);
    OpenedExe cut(dir.write("cut.exe", image));
    EXPECT_FALSE(cut.opened);
    EXPECT_TRUE(cut.job.isOpen());  // refused after opening: the caller closes it

    image.resize(136);
    OpenedExe exact(dir.write("exact.exe", image));
    EXPECT_TRUE(exact.opened);

    // Program data the file does not hold: refused before anything is sent.
    ExeLayout data;
    data.data = Bytes(100, 1);
    image = loadertest::exeImage(data);
    OpenedExe whole(dir.write("whole.exe", image));
    EXPECT_TRUE(whole.opened);
    image.pop_back();
    OpenedExe short1(dir.write("short.exe", image));
    EXPECT_FALSE(short1.opened);
    data.loadSize = 0xFFFFFFFF;
    OpenedExe huge(dir.write("huge.exe", loadertest::exeImage(data)));
    EXPECT_FALSE(huge.opened);

    OpenedExe missing(dir.file("missing.exe"));
    EXPECT_FALSE(missing.opened);
    EXPECT_FALSE(missing.job.isOpen());
}

}  // namespace
