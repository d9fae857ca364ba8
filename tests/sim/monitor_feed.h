#pragma once

#include <string>
#include <string_view>

#include "sim/monitor.h"

inline std::string feed(sim::Monitor& monitor, std::string_view bytes) {
    std::string out;
    for (char c : bytes) monitor.receive(std::uint8_t(c), out);
    return out;
}

inline int count(const std::string& text, std::string_view what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}
