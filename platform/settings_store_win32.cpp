#include "platform/settings_store.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The machine-wide key HKEY_LOCAL_MACHINE\SOFTWARE\Kembri. A user without
// rights to the machine's hive cannot open it; everything then fails
// silently and the defaults stand.
class RegistrySettingsStore final : public SettingsStore {
public:
    ~RegistrySettingsStore() override { closeKey(); }
    bool open() override;
    bool readText(const char* name, std::string& value) override;
    bool readNumber(const char* name, std::int32_t& value) override;
    void writeText(const char* name, const char* value) override;
    void writeNumber(const char* name, std::int32_t value) override;
    void commit() override;

private:
    void closeKey();

    HKEY key_ = nullptr;
};

bool RegistrySettingsStore::open() {
    closeKey();
    HKEY software = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &software, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result = RegCreateKeyExA(software, "Kembri", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    RegCloseKey(software);
    if (result != ERROR_SUCCESS) {
        key_ = nullptr;
        return false;
    }
    return true;
}

// The value's type is not looked at. Its bytes count as text up to the first
// NUL, or whole when there is none; the size is asked first, so a long value
// is read whole, never cut.
bool RegistrySettingsStore::readText(const char* name, std::string& value) {
    DWORD length = 0;
    if (key_ == nullptr ||
        RegQueryValueExA(key_, name, nullptr, nullptr, nullptr, &length) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<char> bytes(static_cast<std::size_t>(length) + 1);
    if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(bytes.data()),
                         &length) != ERROR_SUCCESS ||
        length >= bytes.size()) {
        return false;
    }
    const void* end = std::memchr(bytes.data(), '\0', length);
    value.assign(bytes.data(), end != nullptr ? static_cast<const char*>(end) - bytes.data() : length);
    return true;
}

// Exactly 4 bytes: a shorter value would leave part of the number unset.
bool RegistrySettingsStore::readNumber(const char* name, std::int32_t& value) {
    if (key_ == nullptr) {
        return false;
    }
    DWORD number = 0;
    DWORD length = sizeof number;
    if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&number),
                         &length) != ERROR_SUCCESS ||
        length != sizeof number) {
        return false;
    }
    value = static_cast<std::int32_t>(number);
    return true;
}

void RegistrySettingsStore::writeText(const char* name, const char* value) {
    if (key_ == nullptr) {
        return;
    }
    // The stored length counts the terminating NUL.
    const std::size_t length = std::strlen(value) + 1;
    if (length > MAXDWORD) {
        return;
    }
    RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(length));
}

void RegistrySettingsStore::writeNumber(const char* name, std::int32_t value) {
    if (key_ == nullptr) {
        return;
    }
    const auto number = static_cast<DWORD>(value);
    RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
}

// The registry keeps what was set; the key is only let go.
void RegistrySettingsStore::commit() {
    closeKey();
}

void RegistrySettingsStore::closeKey() {
    if (key_ != nullptr) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

}  // namespace

std::unique_ptr<SettingsStore> makeSystemSettingsStore() {
    return std::make_unique<RegistrySettingsStore>();
}
