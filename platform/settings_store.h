#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Where the port name and baud rate of the last start are kept: the
// machine-wide registry key on Windows, a small settings file elsewhere.
// Every failure is silent; callers fall back to their defaults.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Opens (creating when missing) the place where settings live.
    virtual bool open() = 0;
    // The stored text, whole; false when it is missing or unusable.
    virtual bool readText(const char* name, std::string& value) = 0;
    // False when the value is missing or is not a 32-bit number.
    virtual bool readNumber(const char* name, std::int32_t& value) = 0;
    virtual void writeText(const char* name, const char* value) = 0;
    virtual void writeNumber(const char* name, std::int32_t value) = 0;
    // Makes the writes since open() lasting. Results are not examined.
    virtual void commit() = 0;
    // What the user should hear about the store, once: a place that holds
    // data but could not be read whole is left untouched, and says so here.
    virtual std::string notice() const { return {}; }
};

// The store of this platform.
std::unique_ptr<SettingsStore> makeSystemSettingsStore();
