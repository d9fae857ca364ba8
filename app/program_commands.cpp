#include "app/program_commands.h"

#include "console/console.h"
#include "loader/load_command.h"
#include "transfer/data_commands.h"

ProgramCommands::ProgramCommands(Console& console, PulseMode pulses)
    : console_(console), pulses_(pulses), scripts_(console) {
    console.useCommands(*this);
}

bool ProgramCommands::load(const char* path, SerialPort* port) {
    return ::load(console_, path, port);
}

bool ProgramCommands::dload(const char* path, std::uint32_t address, SerialPort* port) {
    return ::dload(console_, path, address, port);
}

bool ProgramCommands::dsave(const char* path, std::uint32_t address, std::uint32_t length,
                            SerialPort* port) {
    return ::dsave(console_, path, address, length, port, pulses_);
}

bool ProgramCommands::startScript(const char* path, std::int32_t depth, SerialPort* port) {
    return scripts_.start(path, depth, port);
}

void ProgramCommands::promptArrived() { scripts_.promptArrived(); }

void ProgramCommands::stopScripts() { scripts_.stopAll(); }
