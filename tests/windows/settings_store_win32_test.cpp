#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/settings_store.h"

namespace {

constexpr const char* KeyPath = "SOFTWARE\\Kembri";
constexpr const char* PortValue = "tolvanisPort";
constexpr const char* BaudValue = "tolvanisBaud";

struct RawValue {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

HKEY openKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

RawValue rawValue(const char* name) {
    RawValue value;
    const HKEY key = openKey();
    if (key == nullptr) return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.present = RegQueryValueExA(key, name, nullptr, &value.type, value.bytes.data(),
                                         &size) == ERROR_SUCCESS;
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    return value;
}

void setRaw(const char* name, DWORD type, const void* bytes, DWORD size) {
    const HKEY key = openKey();
    ASSERT_NE(nullptr, key);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(bytes), size));
    RegCloseKey(key);
}

void removeRaw(const char* name) {
    const HKEY key = openKey();
    if (key == nullptr) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

// The settings of whoever runs the tests are put back afterwards.
class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override {
        savedPort = rawValue(PortValue);
        savedBaud = rawValue(BaudValue);
        const HKEY key = openKey();
        if (key == nullptr) GTEST_SKIP() << "HKEY_LOCAL_MACHINE\\SOFTWARE cannot be written here";
        RegCloseKey(key);
    }
    void TearDown() override {
        restore(PortValue, savedPort);
        restore(BaudValue, savedBaud);
    }
    static void restore(const char* name, const RawValue& value) {
        if (!value.present) {
            removeRaw(name);
        } else {
            setRaw(name, value.type, value.bytes.data(), static_cast<DWORD>(value.bytes.size()));
        }
    }

    RawValue savedPort;
    RawValue savedBaud;
};

TEST_F(RegistrySettings, WrittenValuesHaveTheirTypesAndReadBack) {
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    store->writeText(PortValue, "COM12");
    store->writeNumber(BaudValue, 9600);
    store->commit();

    const RawValue port = rawValue(PortValue);
    ASSERT_TRUE(port.present);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), port.type);
    // The NUL terminator is counted.
    EXPECT_EQ((std::vector<BYTE>{'C', 'O', 'M', '1', '2', 0}), port.bytes);
    const RawValue baud = rawValue(BaudValue);
    ASSERT_TRUE(baud.present);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), baud.type);
    EXPECT_EQ((std::vector<BYTE>{0x80, 0x25, 0, 0}), baud.bytes);

    auto next = makeSystemSettingsStore();
    ASSERT_TRUE(next->open());
    std::string text;
    ASSERT_TRUE(next->readText(PortValue, text));
    EXPECT_EQ("COM12", text);
    std::int32_t number = 0;
    ASSERT_TRUE(next->readNumber(BaudValue, number));
    EXPECT_EQ(9600, number);

    next->writeNumber(BaudValue, -5);
    next->commit();
    auto third = makeSystemSettingsStore();
    ASSERT_TRUE(third->open());
    ASSERT_TRUE(third->readNumber(BaudValue, number));
    EXPECT_EQ(-5, number);
}

TEST_F(RegistrySettings, MissingValuesAreNotRead) {
    removeRaw(PortValue);
    removeRaw(BaudValue);
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    std::string text = "unchanged";
    EXPECT_FALSE(store->readText(PortValue, text));
    EXPECT_EQ("unchanged", text);
    std::int32_t number = 77;
    EXPECT_FALSE(store->readNumber(BaudValue, number));
    EXPECT_EQ(77, number);
}

TEST_F(RegistrySettings, LongTextIsReadWhole) {
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    const std::string name = "\\\\.\\" + std::string(300, 'p');
    store->writeText(PortValue, name.c_str());
    std::string text;
    ASSERT_TRUE(store->readText(PortValue, text));
    EXPECT_EQ(name, text);
}

// Whatever type it was stored with, a value without a terminator is read
// whole; bytes after an inner NUL do not count.
TEST_F(RegistrySettings, TextStoredWithoutTerminator) {
    setRaw(PortValue, REG_BINARY, "COM7", 4);
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    std::string text;
    ASSERT_TRUE(store->readText(PortValue, text));
    EXPECT_EQ("COM7", text);
    setRaw(PortValue, REG_BINARY, "ABCDEFGH", 8);
    ASSERT_TRUE(store->readText(PortValue, text));
    EXPECT_EQ("ABCDEFGH", text);
    setRaw(PortValue, REG_SZ, "COM2\0junk", 9);
    ASSERT_TRUE(store->readText(PortValue, text));
    EXPECT_EQ("COM2", text);
}

TEST_F(RegistrySettings, NumberMustBeFourBytes) {
    auto store = makeSystemSettingsStore();
    ASSERT_TRUE(store->open());
    std::int32_t number = 77;
    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    setRaw(BaudValue, REG_QWORD, eight, sizeof eight);
    EXPECT_FALSE(store->readNumber(BaudValue, number));
    setRaw(BaudValue, REG_BINARY, eight, 2);
    EXPECT_FALSE(store->readNumber(BaudValue, number));
    EXPECT_EQ(77, number);
    // The type is not looked at: four bytes are a number.
    setRaw(BaudValue, REG_BINARY, eight, 4);
    ASSERT_TRUE(store->readNumber(BaudValue, number));
    EXPECT_EQ(0x04030201, number);
}

TEST_F(RegistrySettings, NothingHappensBeforeOpen) {
    removeRaw(PortValue);
    auto store = makeSystemSettingsStore();
    store->writeText(PortValue, "COM3");
    store->commit();
    EXPECT_FALSE(rawValue(PortValue).present);
    std::string text;
    EXPECT_FALSE(store->readText(PortValue, text));
}

}  // namespace
