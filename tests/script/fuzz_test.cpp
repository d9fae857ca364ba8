#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/script/script_rig.h"

using scripttest::Rig;

namespace {

const char* const Fragments[] = {
    "local",  "local ", " dload ", " load ", " dsave ", " auto ", "auto-again", " sleep ",
    "echo ",  "dos ",   "sh ",     "!",      "help",    "beep",   "pause",      "wait-prompt",
    "quit",   "%s",     "%n",      "%x",     "%d",      "0x",     "80010000",   "-1",
    "99999999999999999999", "ffffffffff", "file.bin", " ", "\t", "\r", "\0",
};

std::string randomLine(std::mt19937& random, std::size_t maxLength) {
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(Fragments) - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::size_t wanted = length(random);
    std::string line;
    while (line.size() < wanted) {
        if (byte(random) < 64) {
            line += static_cast<char>(byte(random));
        } else {
            const char* fragment = Fragments[pick(random)];
            line.append(fragment, *fragment == '\0' ? 1 : std::strlen(fragment));
        }
    }
    line.resize(wanted);
    return line;
}

bool asksForShell(const std::string& line) {
    const std::string text = line.substr(0, line.find('\0'));
    const auto local = text.find("local");
    if (local == std::string::npos) return false;
    const std::string rest = text.substr(local);
    return rest.find("dos ") != std::string::npos || rest.find("sh ") != std::string::npos ||
           rest.find('!') != std::string::npos;
}

// Runs a bounded number of lines (a rewind may repeat them for ever);
// called scripts are let go at once.
void runAll(Rig& rig, ScriptFile& file, int bound) {
    for (int i = 0; i < bound; ++i) {
        file.runNextLine(&rig.port, rig.console);
        file.takeCalled().reset();
    }
}

TEST(ScriptFuzz, SingleLinesDoOnlyWhatTheyAsk) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> key(0, 40);
    for (int round = 0; round < 400; ++round) {
        Rig rig;
        for (int i = 0; i < 3; ++i) rig.keyboard.queue.push_back(key(random) == 0 ? 27 : key(random));
        std::string line = randomLine(random, ScriptFile::LineSize - 2);
        line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
        if (round % 2 == 0) line += '\n';
        const std::string path = rig.file("fuzz.txt", line);

        ScriptFile file;
        ASSERT_TRUE(file.open(path.c_str(), 0));
        file.runNextLine(&rig.port, rig.console);
        file.takeCalled().reset();
        file.close();

        SCOPED_TRACE(::testing::PrintToString(line));
        if (!asksForShell(line)) {
            EXPECT_TRUE(rig.host.commands.empty());
        }
        for (const auto& command : rig.host.commands) {
            EXPECT_NE(line.find(command), std::string::npos);
        }
        if (line.substr(0, line.find('\0')).find("local") == std::string::npos) {
            EXPECT_EQ(rig.port.written, line);  // a plain line goes out as it is
        } else {
            EXPECT_EQ(rig.port.written.find_first_not_of('\r'), std::string::npos);
        }
    }
}

TEST(ScriptFuzz, LongJunkNeverCrashes) {
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        Rig rig;
        std::string content;
        for (int i = 0; i < 20; ++i) content += randomLine(random, 700) + (i % 3 ? "\n" : "");
        const std::string path = rig.file("junk.txt", content);
        ScriptFile file;
        ASSERT_TRUE(file.open(path.c_str(), 0));
        runAll(rig, file, 400);
        file.close();
        for (const auto& write : rig.port.writes) {
            EXPECT_LE(write.size(), static_cast<std::size_t>(ScriptFile::LineSize - 1));
            EXPECT_NE(content.find(write), std::string::npos);
        }
    }
}

}  // namespace
