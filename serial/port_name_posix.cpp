#include <charconv>

#include "serial/serial_port.h"

// Windows names its ports COM1, COM2 ...; here they are /dev/ttyS0, ttyS1 ...
// Other bare names live in /dev, and a path is taken as it stands.
std::string systemPortPath(const std::string& portName) {
    if (portName.size() > 3 && portName.compare(0, 3, "COM") == 0) {
        unsigned long number = 0;
        const char* first = portName.data() + 3;
        const char* last = portName.data() + portName.size();
        const auto [stop, error] = std::from_chars(first, last, number);
        if (error == std::errc() && stop == last && number >= 1) {
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    if (portName.find('/') == std::string::npos) {
        return "/dev/" + portName;
    }
    return portName;
}
