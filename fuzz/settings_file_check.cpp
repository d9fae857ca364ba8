// The stored settings file: the bytes are the file; what it holds is read,
// our two values are written back and read again, and every other line is
// kept in order, byte for byte.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "fuzz/require.h"
#include "fuzz/scratch_folder.h"
#include "fuzz/user_input_checks.h"
#include "platform/settings_store.h"

namespace {

constexpr const char* PortName = "tolvanisPort";
constexpr const char* BaudName = "tolvanisBaud";

bool usable(std::string_view line) {
    if (line.size() > 4096) return false;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return false;
    }
    return true;
}

// Every line as it stands, line feeds taken off.
std::vector<std::string> linesOf(std::string_view file) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < file.size();) {
        const std::size_t end = std::min(file.find('\n', start), file.size());
        lines.emplace_back(file.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The value of the first line for name, without a closing carriage return.
std::optional<std::string> valueFor(const std::vector<std::string>& lines, std::string_view name) {
    for (const std::string& line : lines) {
        if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 &&
            line[name.size()] == '=') {
            std::string value = line.substr(name.size() + 1);
            if (!value.empty() && value.back() == '\r') value.pop_back();
            return value;
        }
    }
    return std::nullopt;
}

bool isOurs(const std::string& line) {
    for (std::string_view name : {PortName, BaudName}) {
        if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 &&
            line[name.size()] == '=') {
            return true;
        }
    }
    return false;
}

// A whole decimal 32-bit number, a minus sign allowed, nothing else.
std::optional<std::int32_t> wholeNumber(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    // Leading zeros are still a whole number, however many there are.
    if (digits.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > (std::int64_t{1} << 32)) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::string settingsPath() { return fuzzing::scratchFolder() + "/config/kembri/settings"; }

std::string fileText(const std::string& path) {
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
        std::fclose(file);
    }
    return text;
}

}  // namespace

namespace fuzzing {

void checkSettingsFile(std::string_view bytes, const std::string& port, std::int32_t baud) {
    fuzzing::writeScratchFile("config/kembri/settings",
                              reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    const std::vector<std::string> lines = linesOf(bytes);

    auto store = makeSystemSettingsStore();
    require(store->open(), "the settings store opens");
    std::string text;
    const std::optional<std::string> storedPort = valueFor(lines, PortName);
    const bool portRead = store->readText(PortName, text);
    require(portRead == (storedPort && usable(*storedPort)),
            "a stored port is read whole when it is usable text");
    require(!portRead || *storedPort == text, "the port read is the one stored");
    std::int32_t number = 0;
    const std::optional<std::string> storedBaud = valueFor(lines, BaudName);
    const std::optional<std::int32_t> expectedBaud =
        storedBaud ? wholeNumber(*storedBaud) : std::nullopt;
    const bool baudRead = store->readNumber(BaudName, number);
    require(baudRead == expectedBaud.has_value() && (!baudRead || number == *expectedBaud),
            "a stored baud rate is read when it is a whole 32-bit number");

    // The start-up reads the same through the app's own reader.
    StartupSettings startup;
    readStoredSettings(*store, startup);
    require(startup.portName == (portRead ? *storedPort : std::string("COM1")) &&
                startup.baudRate == expectedBaud.value_or(115200),
            "start-up takes each stored value it can read, else the default");

    store->writeText(PortName, port.c_str());
    store->writeNumber(BaudName, baud);
    store->commit();

    const std::string written = fileText(settingsPath());
    require(written.empty() || written.back() == '\n', "every line written ends");
    const std::vector<std::string> after = linesOf(written);
    std::vector<std::string> othersBefore;
    std::vector<std::string> othersAfter;
    for (const std::string& line : lines) {
        if (!isOurs(line)) othersBefore.push_back(line);
    }
    for (const std::string& line : after) {
        if (!isOurs(line)) othersAfter.push_back(line);
    }
    require(othersBefore == othersAfter, "other lines are kept byte for byte, in order");
    require(store->notice().empty(), "a file that could be read needs no notice");

    auto reread = makeSystemSettingsStore();
    require(reread->open(), "the settings store opens again");
    const std::string portLine = std::string(PortName) + "=" + port;
    const bool portKept = usable(portLine);
    require(reread->readText(PortName, text) == portKept,
            "the port written is read back unless it cannot be kept");
    require(!portKept || port == text, "the port read back is the one written");
    require(reread->readNumber(BaudName, number) && number == baud,
            "the baud rate written is read back");
}

}  // namespace fuzzing
