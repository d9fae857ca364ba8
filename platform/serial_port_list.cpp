#include "platform/serial_port_list.h"

#include <algorithm>

namespace platform {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The end of the digit run that starts at from.
std::size_t digitsEnd(std::string_view text, std::size_t from) {
    while (from < text.size() && isDigit(text[from])) ++from;
    return from;
}

// How many zeros lead the digit run from..end.
std::size_t zerosIn(std::string_view text, std::size_t from, std::size_t end) {
    std::size_t count = 0;
    while (from + count < end && text[from + count] == '0') ++count;
    return count;
}

constexpr std::string_view ColumnGap = "  ";

}  // namespace

bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::size_t endA = digitsEnd(a, i);
            const std::size_t endB = digitsEnd(b, j);
            // Leading zeros say nothing of the value; of two runs without
            // them, the longer is the larger.
            const std::string_view valueA = a.substr(i, endA - i).substr(zerosIn(a, i, endA));
            const std::string_view valueB = b.substr(j, endB - j).substr(zerosIn(b, j, endB));
            if (valueA.size() != valueB.size()) return valueA.size() < valueB.size();
            if (valueA != valueB) return valueA < valueB;
            i = endA;
            j = endB;
        } else if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        } else {
            ++i;
            ++j;
        }
    }
    if (i == a.size() && j == b.size()) return a < b;
    return i == a.size();
}

void sortSerialDevices(std::vector<SerialDeviceInfo>& devices) {
    std::sort(devices.begin(), devices.end(),
              [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) {
                  return naturalLess(a.name, b.name);
              });
}

std::string formatSerialDeviceList(const std::vector<SerialDeviceInfo>& devices) {
    if (devices.empty()) return "no serial devices found\n";
    // Column 0 is the name, the details follow.
    std::vector<std::size_t> widths;
    for (const SerialDeviceInfo& device : devices) {
        widths.resize(std::max(widths.size(), device.details.size() + 1));
        widths[0] = std::max(widths[0], device.name.size());
        for (std::size_t column = 0; column < device.details.size(); ++column) {
            widths[column + 1] = std::max(widths[column + 1], device.details[column].size());
        }
    }
    std::string text;
    for (const SerialDeviceInfo& device : devices) {
        std::string line = device.name;
        std::size_t columnEnd = widths[0];
        for (std::size_t column = 0; column < device.details.size(); ++column) {
            line.resize(columnEnd, ' ');
            line += ColumnGap;
            line += device.details[column];
            columnEnd += ColumnGap.size() + widths[column + 1];
        }
        // An empty last column would leave only padding behind.
        line.erase(line.find_last_not_of(' ') + 1);
        text += line;
        text += '\n';
    }
    return text;
}

}  // namespace platform
