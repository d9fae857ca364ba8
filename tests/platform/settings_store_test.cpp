#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// Each test gets a configuration folder of its own through XDG_CONFIG_HOME.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "settings-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        configHome = root / "config";
        ASSERT_EQ(setenv("XDG_CONFIG_HOME", configHome.c_str(), 1), 0);
    }
    void TearDown() override {
        unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(root);
    }

    fs::path settingsFile() const { return configHome / "kembri" / "settings"; }

    void writeSettingsFile(const std::string& text) {
        fs::create_directories(settingsFile().parent_path());
        std::ofstream(settingsFile(), std::ios::binary) << text;
    }

    std::string readSettingsFile() const {
        std::ifstream file(settingsFile(), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    fs::path root;
    fs::path configHome;
};

TEST_F(SettingsStoreTest, RoundTripCreatesTheFolder) {
    {
        auto store = makeSystemSettingsStore();
        ASSERT_TRUE(store->open());
        EXPECT_TRUE(fs::is_directory(configHome / "kembri"));
        std::string port;
        std::int32_t baud = 0;
        EXPECT_FALSE(store->readText("tolvanisPort", port));
        EXPECT_FALSE(store->readNumber("tolvanisBaud", baud));
        store->writeText("tolvanisPort", "COM2");
        store->writeNumber("tolvanisBaud", 9600);
        store->commit();
    }
    EXPECT_EQ(readSettingsFile(), "tolvanisPort=COM2\ntolvanisBaud=9600\n");

    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    std::string port;
    std::int32_t baud = 0;
    ASSERT_TRUE(store->readText("tolvanisPort", port));
    EXPECT_EQ(port, "COM2");
    ASSERT_TRUE(store->readNumber("tolvanisBaud", baud));
    EXPECT_EQ(baud, 9600);

    // Written again: replaced in place, not added.
    store->writeText("tolvanisPort", "/dev/ttyUSB0");
    store->writeNumber("tolvanisBaud", -5);
    store->commit();
    EXPECT_EQ(readSettingsFile(), "tolvanisPort=/dev/ttyUSB0\ntolvanisBaud=-5\n");
}

TEST_F(SettingsStoreTest, HomeConfigWhenXdgIsUnsetOrRelative) {
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", "relative/place", 1);
    {
        auto store = makeSystemSettingsStore();
        ASSERT_TRUE(store->open());
        store->writeNumber("tolvanisBaud", 57600);
        store->commit();
    }
    // A HOME that is no full path names no place: nothing is made anywhere.
    const fs::path workingFolder = fs::current_path();
    fs::current_path(root);
    setenv("HOME", "home", 1);
    const bool opened = makeSystemSettingsStore()->open();
    fs::current_path(workingFolder);
    if (oldHome != nullptr) {
        setenv("HOME", savedHome.c_str(), 1);
    } else {
        unsetenv("HOME");
    }
    EXPECT_FALSE(opened);
    EXPECT_FALSE(fs::exists(root / "home"));
    std::ifstream file(root / ".config" / "kembri" / "settings");
    std::string line;
    std::getline(file, line);
    EXPECT_EQ(line, "tolvanisBaud=57600");
}

TEST_F(SettingsStoreTest, OtherLinesAndTheModeAreKept) {
    writeSettingsFile("# kept\nother=1\ntolvanisBaud=9600\nno equals sign\ntolvanisPort=COM3\n");
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(settingsFile(), mode);
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    store->writeText("tolvanisPort", "COM4");
    store->writeNumber("tolvanisBaud", 115200);
    store->commit();
    EXPECT_EQ(readSettingsFile(),
              "# kept\nother=1\ntolvanisBaud=115200\nno equals sign\ntolvanisPort=COM4\n");
    EXPECT_EQ(fs::status(settingsFile()).permissions(), mode);
}

TEST_F(SettingsStoreTest, NamesMatchWholeAndFirstLineWins) {
    writeSettingsFile("tolvanisPortX=COM7\ntolvanisPort=COM1\r\ntolvanisPort=COM9\n");
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    std::string port;
    ASSERT_TRUE(store->readText("tolvanisPort", port));
    EXPECT_EQ(port, "COM1");
    store->writeText("tolvanisPort", "COM5");
    store->commit();
    EXPECT_EQ(readSettingsFile(), "tolvanisPortX=COM7\ntolvanisPort=COM5\n");
}

TEST_F(SettingsStoreTest, LongPortNamesAreReadWhole) {
    const std::string name = "/dev/serial/by-id/" + std::string(300, 'p');
    writeSettingsFile("tolvanisPort=" + name + "\n");
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    std::string port;
    ASSERT_TRUE(store->readText("tolvanisPort", port));
    EXPECT_EQ(port, name);

    // Up to a line of 4096 bytes; a longer value is not stored at all.
    const std::string longest(4096 - std::strlen("tolvanisPort="), 'p');
    store->writeText("tolvanisPort", longest.c_str());
    store->commit();
    EXPECT_EQ(readSettingsFile(), "tolvanisPort=" + longest + "\n");
    store->writeText("tolvanisPort", (longest + "p").c_str());
    store->commit();
    EXPECT_EQ(readSettingsFile(), "");
}

TEST_F(SettingsStoreTest, BaudMustBeADecimal32BitNumber) {
    const struct {
        const char* text;
        bool usable;
        std::int32_t value;
    } cases[] = {
        {"115200", true, 115200},  {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN}, {"2147483648", false, 0},
        {"99999999999", false, 0}, {"9600x", false, 0},
        {"", false, 0},            {" 9600", false, 0},
        {"0x2580", false, 0},      {"fast", false, 0},
        // However many leading zeros, it is still the number.
        {"0000000000000000000000506742680", true, 506742680},
    };
    for (const auto& c : cases) {
        writeSettingsFile(std::string("tolvanisBaud=") + c.text + "\n");
        auto store = makeSystemSettingsStore();
        ASSERT_TRUE(store->open());
        std::int32_t baud = 1234;
        EXPECT_EQ(store->readNumber("tolvanisBaud", baud), c.usable) << c.text;
        EXPECT_EQ(baud, c.usable ? c.value : 1234) << c.text;
    }
}

TEST_F(SettingsStoreTest, GarbledFileGivesDefaultsAndKeepsEveryOtherLine) {
    std::string junk = "tolvanisPort=CO";
    junk += '\0';
    junk += "M1\n\x01\x02\xff\xfe binary\r\n";
    junk += std::string(10000, 'z') + "=long\n";
    junk += "tolvanisBaud\n";       // no '='
    junk += "kept=yes";             // no line end at the end
    writeSettingsFile(junk);
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    std::string port;
    std::int32_t baud = 0;
    EXPECT_FALSE(store->readText("tolvanisPort", port));
    EXPECT_FALSE(store->readNumber("tolvanisBaud", baud));
    store->writeText("tolvanisPort", "COM1");
    store->writeNumber("tolvanisBaud", 115200);
    store->commit();
    // Only our own damaged line is replaced.
    EXPECT_EQ(readSettingsFile(), "tolvanisPort=COM1\n\x01\x02\xff\xfe binary\r\n" +
                                      std::string(10000, 'z') +
                                      "=long\ntolvanisBaud\nkept=yes\ntolvanisBaud=115200\n");
}

TEST_F(SettingsStoreTest, ALargeFileIsKeptWhole) {
    std::string large;
    for (int i = 0; large.size() < 200 * 1024; ++i) large += "other" + std::to_string(i) + "=x\n";
    writeSettingsFile(large + "tolvanisBaud=9600\n");
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    std::int32_t baud = 0;
    ASSERT_TRUE(store->readNumber("tolvanisBaud", baud));
    EXPECT_EQ(baud, 9600);
    store->writeNumber("tolvanisBaud", 300);
    store->commit();
    EXPECT_EQ(readSettingsFile(), large + "tolvanisBaud=300\n");
    EXPECT_EQ(store->notice(), "");
}

TEST_F(SettingsStoreTest, ASymbolicLinkIsWrittenThrough) {
    const fs::path real = root / "elsewhere" / "shared-settings";
    fs::create_directories(real.parent_path());
    std::ofstream(real, std::ios::binary) << "theirs=1\n";
    fs::create_directories(settingsFile().parent_path());
    fs::create_symlink("../../elsewhere/shared-settings", settingsFile());
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    store->writeText("tolvanisPort", "COM2");
    store->commit();
    EXPECT_TRUE(fs::is_symlink(settingsFile()));
    std::ifstream file(real, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "theirs=1\ntolvanisPort=COM2\n");
    for (const auto& entry : fs::directory_iterator(real.parent_path())) {
        EXPECT_EQ(entry.path().filename(), "shared-settings");
    }

    // A link that leads round in a circle is left alone, and says so.
    fs::remove(settingsFile());
    fs::create_symlink("settings", settingsFile());
    auto looped = makeSystemSettingsStore();
    ASSERT_TRUE(looped->open());
    looped->commit();
    EXPECT_NE(looped->notice(), "");
    EXPECT_TRUE(fs::is_symlink(settingsFile()));
}

TEST_F(SettingsStoreTest, AFileThatCannotBeReadIsLeftAloneAndSaysSo) {
    // A FIFO never gives its bytes without a writer: not readable whole.
    fs::create_directories(settingsFile().parent_path());
    ASSERT_EQ(mkfifo(settingsFile().c_str(), 0600), 0);
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    store->writeText("tolvanisPort", "COM2");
    store->commit();
    EXPECT_EQ(store->notice(), "settings not stored: cannot read " + settingsFile().string() + "\n");
    EXPECT_TRUE(fs::is_fifo(settingsFile()));
    EXPECT_EQ(fs::directory_iterator(settingsFile().parent_path())->path(), settingsFile());
}

TEST_F(SettingsStoreTest, ValueWithALineBreakOrDelIsNotStored) {
    for (const char* value : {"COM2\ntolvanisBaud=1", "COM2\x7f"}) {
        writeSettingsFile("tolvanisPort=COM1\n");
        auto store = makeSystemSettingsStore();
        ASSERT_TRUE(store->open());
        store->writeText("tolvanisPort", value);
        store->commit();
        EXPECT_EQ(readSettingsFile(), "") << value;
    }
}

TEST_F(SettingsStoreTest, CommitLeavesNoTemporaryFile) {
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    store->writeText("tolvanisPort", "COM1");
    store->commit();
    store->commit();
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(configHome / "kembri")) {
        EXPECT_EQ(entry.path().filename(), "settings");
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(SettingsStoreTest, FolderThatCannotBeMadeFailsSilently) {
    // A file stands where the configuration folder, or ours in it, should be.
    for (const fs::path& file : {configHome, configHome / "kembri"}) {
        std::ofstream(file.string()) << "not a folder";
        auto store = makeSystemSettingsStore();
        EXPECT_FALSE(store->open()) << file;
        std::string port;
        EXPECT_FALSE(store->readText("tolvanisPort", port));
        store->writeText("tolvanisPort", "COM1");
        store->commit();
        EXPECT_TRUE(fs::is_regular_file(file));
        EXPECT_EQ(store->notice(), "");
        fs::remove(file);
        fs::create_directories(configHome);
    }
}

TEST_F(SettingsStoreTest, AWriteThatFailsLeavesTheOldFileWhole) {
    writeSettingsFile("tolvanisPort=COM1\n");
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    store->writeText("tolvanisPort", std::string(200, 'p').c_str());
    // A disk that fills up: no file may grow past 100 bytes.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    store->commit();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(readSettingsFile(), "tolvanisPort=COM1\n");
    const fs::directory_iterator entries(settingsFile().parent_path());
    EXPECT_EQ(std::distance(entries, fs::directory_iterator()), 1);
}

}  // namespace
