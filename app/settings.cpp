#include "app/settings.h"

#include <cctype>
#include <cstring>
#include <limits>

#include "app/command_line.h"
#include "platform/settings_store.h"

namespace {

constexpr const char* PortValue = "tolvanisPort";
constexpr const char* BaudValue = "tolvanisBaud";
// A baud rate is read up to this many characters.
constexpr std::size_t OptionValueLimit = 99;

// A decimal number at the start of text, as "%d" reads it: leading white
// space, an optional sign, digits up to the first non-digit. A number that
// does not fit in 32 bits is no number.
bool leadingNumber(const char* text, std::int32_t& value) {
    std::size_t at = 0;
    while (at < OptionValueLimit && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    bool negative = false;
    if (at < OptionValueLimit && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    std::int64_t number = 0;
    std::size_t digits = 0;
    while (at < OptionValueLimit && std::isdigit(static_cast<unsigned char>(text[at]))) {
        number = number * 10 + (text[at] - '0');
        if (number > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return false;
        ++at;
        ++digits;
    }
    if (digits == 0) return false;
    if (negative) number = -number;
    if (number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    value = static_cast<std::int32_t>(number);
    return true;
}

}  // namespace

void readStoredSettings(SettingsStore& store, StartupSettings& settings) {
    if (!store.open()) return;
    std::string port;
    if (store.readText(PortValue, port)) {
        settings.portName = port;
    }
    std::int32_t baud = 0;
    if (store.readNumber(BaudValue, baud)) settings.baudRate = baud;
}

void applyArguments(int argc, const char* const* argv, StartupSettings& settings) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (takesNextArgument(argument)) {
            ++i;  // its value belongs to it
        } else if (argument[0] != '-') {
            settings.hasScript = true;
            settings.scriptName = argument;
        } else if (argument[1] == 'p') {
            settings.portName = argument + 2;
        } else if (argument[1] == 'b') {
            std::int32_t baud = 0;
            if (leadingNumber(argument + 2, baud)) settings.baudRate = baud;
        }
        // Any other dash argument is ignored without a message.
    }
}

std::string storeSettings(SettingsStore& store, const StartupSettings& settings) {
    if (!store.open()) return {};
    store.writeText(PortValue, settings.portName.c_str());
    // No port opens at such a rate: kept, it would fail every later start.
    if (settings.baudRate > 0) store.writeNumber(BaudValue, settings.baudRate);
    store.commit();
    return store.notice();
}

InformationRequest findInformationRequest(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) return InformationRequest::Help;
        if (std::strcmp(argv[i], "--version") == 0) return InformationRequest::Version;
        if (std::strcmp(argv[i], "--list") == 0) return InformationRequest::List;
    }
    return InformationRequest::None;
}
