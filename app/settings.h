#pragma once

#include <cstdint>
#include <string>

class SettingsStore;

// The settings of one run: built-in defaults, then what the last start
// stored, then the command line.
struct StartupSettings {
    // Kept whole, however long: a cut name names another device, or none.
    std::string portName = "COM1";
    std::int32_t baudRate = 115200;
    bool hasScript = false;
    // Kept whole: a cut name would open a different file.
    std::string scriptName;
};

void readStoredSettings(SettingsStore& store, StartupSettings& settings);
// Walks the arguments after the program's name; later ones win.
void applyArguments(int argc, const char* const* argv, StartupSettings& settings);
// Written at every start, also when nothing changed. Gives what the user
// should be told about the store (see SettingsStore::notice), usually nothing.
std::string storeSettings(SettingsStore& store, const StartupSettings& settings);

// "--help", "--version" and "--list" print and end the program before
// anything else.
enum class InformationRequest { None, Help, Version, List };
InformationRequest findInformationRequest(int argc, const char* const* argv);
