#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
        char port[100];
        std::int32_t baud = 0;
        EXPECT_FALSE(store->readText("tolvanisPort", port, sizeof port));
        EXPECT_FALSE(store->readNumber("tolvanisBaud", baud));
        store->writeText("tolvanisPort", "COM2");
        store->writeNumber("tolvanisBaud", 9600);
        store->commit();
    }
    EXPECT_EQ(readSettingsFile(), "tolvanisPort=COM2\ntolvanisBaud=9600\n");

    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    char port[100];
    std::int32_t baud = 0;
    ASSERT_TRUE(store->readText("tolvanisPort", port, sizeof port));
    EXPECT_STREQ(port, "COM2");
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
    if (oldHome != nullptr) {
        setenv("HOME", savedHome.c_str(), 1);
    } else {
        unsetenv("HOME");
    }
    std::ifstream file(root / ".config" / "kembri" / "settings");
    std::string line;
    std::getline(file, line);
    EXPECT_EQ(line, "tolvanisBaud=57600");
}

TEST_F(SettingsStoreTest, OtherLinesAreKept) {
    writeSettingsFile("# kept\nother=1\ntolvanisBaud=9600\nno equals sign\ntolvanisPort=COM3\n");
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    store->writeText("tolvanisPort", "COM4");
    store->writeNumber("tolvanisBaud", 115200);
    store->commit();
    EXPECT_EQ(readSettingsFile(),
              "# kept\nother=1\ntolvanisBaud=115200\nno equals sign\ntolvanisPort=COM4\n");
}

TEST_F(SettingsStoreTest, NamesMatchWholeAndFirstLineWins) {
    writeSettingsFile("tolvanisPortX=COM7\ntolvanisPort=COM1\r\ntolvanisPort=COM9\n");
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    char port[100];
    ASSERT_TRUE(store->readText("tolvanisPort", port, sizeof port));
    EXPECT_STREQ(port, "COM1");
    store->writeText("tolvanisPort", "COM5");
    store->commit();
    EXPECT_EQ(readSettingsFile(), "tolvanisPortX=COM7\ntolvanisPort=COM5\n");
}

TEST_F(SettingsStoreTest, PortNameMustFitWithItsTerminator) {
    writeSettingsFile("tolvanisPort=" + std::string(99, 'p') + "\n");
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    char port[100];
    ASSERT_TRUE(store->readText("tolvanisPort", port, sizeof port));
    EXPECT_EQ(std::string(port), std::string(99, 'p'));

    writeSettingsFile("tolvanisPort=" + std::string(100, 'p') + "\n");
    ASSERT_TRUE(store->open());
    std::memset(port, 'x', sizeof port);
    EXPECT_FALSE(store->readText("tolvanisPort", port, sizeof port));
    EXPECT_EQ(port[0], 'x');
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

TEST_F(SettingsStoreTest, GarbledFileGivesDefaultsAndIsRewrittenWhole) {
    std::string junk = "tolvanisPort=CO";
    junk += '\0';
    junk += "M1\n\x01\x02\xff\xfe binary\n";
    junk += std::string(10000, 'z') + "=long\n";
    junk += "tolvanisBaud\n";       // no '='
    junk += "kept=yes";             // no line end at the end
    writeSettingsFile(junk);
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    char port[100];
    std::int32_t baud = 0;
    EXPECT_FALSE(store->readText("tolvanisPort", port, sizeof port));
    EXPECT_FALSE(store->readNumber("tolvanisBaud", baud));
    store->writeText("tolvanisPort", "COM1");
    store->writeNumber("tolvanisBaud", 115200);
    store->commit();
    EXPECT_EQ(readSettingsFile(), "tolvanisBaud\nkept=yes\ntolvanisPort=COM1\ntolvanisBaud=115200\n");
}

TEST_F(SettingsStoreTest, ValueWithALineBreakIsNotStored) {
    writeSettingsFile("tolvanisPort=COM1\n");
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    store->writeText("tolvanisPort", "COM2\ntolvanisBaud=1");
    store->commit();
    EXPECT_EQ(readSettingsFile(), "");
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
    // A file stands where the configuration folder should be.
    std::ofstream(configHome.string()) << "not a folder";
    auto store = makeSystemSettingsStore();
    EXPECT_FALSE(store->open());
    char port[100];
    EXPECT_FALSE(store->readText("tolvanisPort", port, sizeof port));
    store->writeText("tolvanisPort", "COM1");
    store->commit();
    EXPECT_TRUE(fs::is_regular_file(configHome));
}

}  // namespace
