#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/banner.h"
#include "app/settings.h"
#include "platform/settings_store.h"

namespace {

// A store held in memory; it can be made to refuse opening, like a registry
// key the user may not write.
class MemoryStore final : public SettingsStore {
public:
    bool open() override { return opens; }
    bool readText(const char* name, std::string& value) override {
        auto it = texts.find(name);
        if (it == texts.end()) return false;
        value = it->second;
        return true;
    }
    bool readNumber(const char* name, std::int32_t& value) override {
        auto it = numbers.find(name);
        if (it == numbers.end()) return false;
        value = it->second;
        return true;
    }
    void writeText(const char* name, const char* value) override { texts[name] = value; }
    void writeNumber(const char* name, std::int32_t value) override { numbers[name] = value; }
    void commit() override { ++commits; }
    std::string notice() const override { return noticeText; }

    bool opens = true;
    std::map<std::string, std::string> texts;
    std::map<std::string, std::int32_t> numbers;
    int commits = 0;
    std::string noticeText;
};

StartupSettings settle(MemoryStore& store, std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "tolvanis");
    StartupSettings settings;
    readStoredSettings(store, settings);
    applyArguments(static_cast<int>(arguments.size()), arguments.data(), settings);
    storeSettings(store, settings);
    return settings;
}

TEST(StartupSettings, DefaultsAreUsedAndStoredOnAFirstStart) {
    MemoryStore store;
    const StartupSettings settings = settle(store, {});
    EXPECT_EQ(settings.portName, "COM1");
    EXPECT_EQ(settings.baudRate, 115200);
    EXPECT_FALSE(settings.hasScript);
    EXPECT_EQ(store.texts["tolvanisPort"], "COM1");
    EXPECT_EQ(store.numbers["tolvanisBaud"], 115200);
    EXPECT_EQ(store.commits, 1);
    EXPECT_EQ(bannerText(settings),
              std::string("TOLVANIS kembri console - ") + __DATE__ + " - port COM1 baud 115200\n");
}

TEST(StartupSettings, TheCommandLineIsStoredForTheNextStart) {
    MemoryStore store;
    settle(store, {"-pCOM2", "-b9600"});
    const StartupSettings next = settle(store, {});
    EXPECT_EQ(next.portName, "COM2");
    EXPECT_EQ(next.baudRate, 9600);
}

TEST(StartupSettings, ALoneDashPTakesAnEmptyNameAndTheNextArgumentIsTheScript) {
    MemoryStore store;
    const StartupSettings settings = settle(store, {"-p", "COM2"});
    EXPECT_EQ(settings.portName, "");
    EXPECT_TRUE(settings.hasScript);
    EXPECT_EQ(settings.scriptName, "COM2");
    EXPECT_EQ(store.texts["tolvanisPort"], "");
}

TEST(StartupSettings, BaudRatesAreReadUpToTheFirstNonDigit) {
    struct Case {
        const char* argument;
        std::int32_t baud;
    };
    // Only the first 99 characters count; 2^64 + 9600 must not wrap round to 9600.
    const std::string padded = "-b" + std::string(96, '0') + "9600";
    const Case cases[] = {{"-b9600x", 9600},         {"-bfast", 57600},
                          {"-b", 57600},             {"-b-300", -300},
                          {"-b 19200", 19200},       {"-b2147483647", 2147483647},
                          {"-b2147483648", 57600},   {"-b99999999999999999999", 57600},
                          {"-b-2147483648", INT32_MIN}, {"-b18446744073709561216", 57600},
                          {padded.c_str(), 960}};
    for (const Case& c : cases) {
        MemoryStore store;
        store.numbers["tolvanisBaud"] = 57600;
        EXPECT_EQ(settle(store, {c.argument}).baudRate, c.baud) << c.argument;
    }
}

TEST(StartupSettings, ARateOfZeroOrBelowIsNotStored) {
    for (const char* argument : {"-b0", "-b-1"}) {
        MemoryStore store;
        store.numbers["tolvanisBaud"] = 57600;
        EXPECT_LE(settle(store, {argument}).baudRate, 0);
        EXPECT_EQ(store.numbers["tolvanisBaud"], 57600) << argument;
    }
}

TEST(StartupSettings, OtherDashArgumentsAreIgnoredAndLaterArgumentsWin) {
    MemoryStore store;
    const StartupSettings settings =
        settle(store, {"first.txt", "-PCOM9", "-x", "-pCOM3", "-b300", "second.txt", "-pCOM4",
                       "-bnope"});
    EXPECT_EQ(settings.portName, "COM4");
    EXPECT_EQ(settings.baudRate, 300);
    EXPECT_EQ(settings.scriptName, "second.txt");
}

TEST(StartupSettings, LongPortAndScriptNamesAreKeptWhole) {
    MemoryStore store;
    // A udev path by id is often longer than a hundred characters.
    const std::string name =
        "/dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller_D-if00-port0-" +
        std::string(80, 'a');
    const std::string port = "-p" + name;
    const std::string script(300, 's');
    const StartupSettings settings = settle(store, {port.c_str(), script.c_str()});
    EXPECT_EQ(settings.portName, name);
    EXPECT_EQ(store.texts["tolvanisPort"], name);
    EXPECT_EQ(settings.scriptName, script);
    EXPECT_EQ(settle(store, {}).portName, name);
    EXPECT_NE(bannerText(settings).find(" - port " + name + " baud "), std::string::npos);
}

TEST(StartupSettings, AStoreThatCannotBeOpenedLeavesDefaultsAndTheCommandLine) {
    MemoryStore store;
    store.opens = false;
    store.texts["tolvanisPort"] = "COM7";
    const StartupSettings settings = settle(store, {"-b4800"});
    EXPECT_EQ(settings.portName, "COM1");
    EXPECT_EQ(settings.baudRate, 4800);
    EXPECT_EQ(store.commits, 0);
    EXPECT_EQ(store.texts["tolvanisPort"], "COM7");
}

TEST(StartupSettings, WhatTheStoreHasToSayIsPassedOn) {
    MemoryStore store;
    store.noticeText = "settings not stored: cannot read FILE\n";
    EXPECT_EQ(storeSettings(store, StartupSettings{}), store.noticeText);
}

TEST(StartupSettings, HelpVersionAndListAreFoundAnywhere) {
    const char* help[] = {"tolvanis", "-pCOM2", "--help"};
    const char* version[] = {"tolvanis", "--version"};
    const char* list[] = {"tolvanis", "-b9600", "--list", "boot.txt"};
    const char* neither[] = {"tolvanis", "-h", "--", "--lis", "--listing"};
    EXPECT_EQ(findInformationRequest(3, help), InformationRequest::Help);
    EXPECT_EQ(findInformationRequest(2, version), InformationRequest::Version);
    EXPECT_EQ(findInformationRequest(4, list), InformationRequest::List);
    EXPECT_EQ(findInformationRequest(5, neither), InformationRequest::None);
}

}  // namespace
