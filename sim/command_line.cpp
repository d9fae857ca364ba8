#include "sim/command_line.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

namespace sim {
namespace {

template <typename Number>
bool parseNumber(std::string_view text, Number minimum, Number& value) {
    Number parsed{};
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (status != std::errc() || end != text.data() + text.size() || parsed < minimum) return false;
    value = parsed;
    return true;
}

}  // namespace

std::string usageText() {
    return "usage: tolvanis-sim [options]\n"
           "A simulated target monitor on a pseudo-terminal. Prints the terminal's path\n"
           "and serves until interrupted.\n"
           "\n"
           "  --link PATH                  make PATH a symbolic link to the terminal\n"
           "  --baud N                     pace both directions at N/10 bytes per second\n"
           "                               (default: as fast as the terminal goes). Over a\n"
           "                               pseudo-terminal the host's write cannot wait for a\n"
           "                               line that is not there, so below about 190,000 baud\n"
           "                               a paced simulator cannot confirm a 2048-byte block\n"
           "                               within the host's 110 ms reply time-out; use 230400\n"
           "                               baud or more for the write direction.\n"
           "  --nak-first N                answer \"N\" to the first N blocks received\n"
           "  --bad-checksum-first N       spoil the checksum of the first N blocks sent\n"
           "  --silent-after-sent N        send nothing more after N bytes\n"
           "  --silent-after-received N    answer nothing after N bytes received\n"
           "  --noise                      surround \"binary\" and \"end binary\" with other bytes\n"
           "  --wrong-echo                 echo other bytes than those received\n"
           "  --no-prompt-after-exchange   no prompt after \"end binary\"\n"
           "  --quiet                      print nothing but the terminal's path\n"
           "  --help                       show this text\n";
}

namespace {

// The option being read: its name, the value given with "=" or the word
// after it, and what is wrong with it.
struct OptionReader {
    int argc;
    const char* const* argv;
    int& index;
    std::string& error;
    std::string_view name;
    std::string_view value;
    bool hasValue = false;

    bool takeValue() {
        if (hasValue) return true;
        if (index + 1 >= argc) {
            error = std::string(name) + " needs a value";
            return false;
        }
        value = argv[++index];
        return true;
    }
    template <typename Number>
    bool takeCount(Number& field) {
        if (!takeValue()) return false;
        if (!parseNumber(value, Number(0), field)) {
            error = std::string(name) + ": not a count: " + std::string(value);
            return false;
        }
        return true;
    }
    bool flag(bool& field) {
        if (hasValue) {
            error = std::string(name) + " takes no value";
            return false;
        }
        field = true;
        return true;
    }
};

bool takeOption(OptionReader& option, CommandLine& result) {
    const std::string_view arg = option.name;
    Faults& faults = result.options.faults;
    if (arg == "--help" || arg == "-h") return option.flag(result.help);
    if (arg == "--quiet" || arg == "-q") return option.flag(result.quiet);
    if (arg == "--link") {
        if (!option.takeValue()) return false;
        if (option.value.empty()) {
            option.error = "--link needs a path";
            return false;
        }
        result.options.linkPath = std::string(option.value);
        return true;
    }
    if (arg == "--baud") return option.takeCount(result.options.baud);
    if (arg == "--nak-first") return option.takeCount(faults.nakFirstBlocks);
    if (arg == "--bad-checksum-first") return option.takeCount(faults.badChecksumFirstBlocks);
    if (arg == "--silent-after-sent") return option.takeCount(faults.silentAfterSentBytes);
    if (arg == "--silent-after-received") return option.takeCount(faults.silentAfterReceivedBytes);
    if (arg == "--noise") return option.flag(faults.noiseAroundAcknowledgements);
    if (arg == "--wrong-echo") return option.flag(faults.wrongEcho);
    if (arg == "--no-prompt-after-exchange") return option.flag(faults.noPromptAfterExchange);
    option.error = "unknown option: " + std::string(arg);
    return false;
}

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, CommandLine& result, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        OptionReader option{argc, argv, i, error, argv[i], {}};
        if (const auto equals = option.name.find('=');
            option.name.starts_with("--") && equals != std::string_view::npos) {
            option.value = option.name.substr(equals + 1);
            option.name = option.name.substr(0, equals);
            option.hasValue = true;
        }
        if (!takeOption(option, result)) return false;
    }
    return true;
}

}  // namespace sim
