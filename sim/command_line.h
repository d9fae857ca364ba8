#pragma once

#include <string>

#include "sim/sim_target.h"

namespace sim {

struct CommandLine {
    Options options;
    bool quiet = false;
    bool help = false;
};

// Reads the simulator's arguments; false with a message in `error` when one
// is unknown or its value is not a number in range.
bool parseCommandLine(int argc, const char* const* argv, CommandLine& result, std::string& error);
std::string usageText();

}  // namespace sim
