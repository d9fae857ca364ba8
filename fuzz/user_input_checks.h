#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/settings.h"

// The three parsers of what a user types and passes, each checked against
// a model of its rules; a broken rule ends the run as a crash does.
namespace fuzzing {

// The bytes typed as keys at each of the four argument prompts.
void checkPrompts(std::string_view keys);
// The bytes cut at NULs as the command line; returns the settings it gave.
StartupSettings checkCommandLine(std::string_view bytes);
// The bytes as the stored settings file, then port and baud written back.
void checkSettingsFile(std::string_view bytes, const std::string& port, std::int32_t baud);

}  // namespace fuzzing
