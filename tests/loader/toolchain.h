#pragma once

// The GNU toolchain for little-endian MIPS, as the loader tests run it to
// make real executables.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include "tests/loader/loader_files.h"

namespace loadertest {

struct Tools {
    std::string as = MIPSEL_AS;
    std::string ld = MIPSEL_LD;
    std::string objcopy = MIPSEL_OBJCOPY;
    std::string objdump = MIPSEL_OBJDUMP;
    std::string nm = MIPSEL_NM;

    // Empty when every tool is there; otherwise what is missing.
    std::string missing() const {
        std::string what;
        for (const std::string* tool : {&as, &ld, &objcopy, &objdump, &nm}) {
            if (tool->empty() || tool->find("NOTFOUND") != std::string::npos ||
                !std::filesystem::exists(*tool)) {
                what += (what.empty() ? "" : ", ") + (tool->empty() ? std::string("?") : *tool);
            }
        }
        return what;
    }
};

// Runs a command; its output, when it fails, goes into the test's message.
inline ::testing::AssertionResult run(const std::string& command, std::string* output = nullptr) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
    if (!pipe) return ::testing::AssertionFailure() << "cannot run " << command;
    std::string text;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe.get()) != nullptr) text += chunk;
    const int status = pclose(pipe.release());
    if (output != nullptr) *output = text;
    if (status != 0) return ::testing::AssertionFailure() << command << "\n" << text;
    return ::testing::AssertionSuccess();
}

inline Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The value nm gives the _gp symbol, 0 when there is none.
inline std::uint32_t gpSymbol(const Tools& tools, const std::string& file) {
    std::string symbols;
    EXPECT_TRUE(run(tools.nm + " " + file, &symbols));
    std::istringstream lines(symbols);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > 4 && line.compare(line.size() - 4, 4, " _gp") == 0) {
            return static_cast<std::uint32_t>(std::stoul(line, nullptr, 16));
        }
    }
    return 0;
}

// Assembles the fixture program into program.o; without the toolchain the
// test is skipped and says what is missing.
class ToolchainTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = tools.missing();
        if (!missing.empty()) {
            GTEST_SKIP() << "MIPS little-endian binutils not found (" << missing
                         << "); install binutils-mipsel-linux-gnu";
        }
        ASSERT_TRUE(run(tools.as + " -mips1 -o " + object + " " + LOADER_FIXTURES + "/program.s"));
    }

    Tools tools;
    ScratchDir dir;
    std::string object = dir.file("program.o");
};

}  // namespace loadertest
