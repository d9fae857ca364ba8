#include "sim/command_line.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

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

bool parseCommandLine(int argc, const char* const* argv, CommandLine& result, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        const auto takeCount = [&](auto& field) -> bool {
            if (!takeValue()) return false;
            if (!parseNumber(value, std::remove_reference_t<decltype(field)>(0), field)) {
                error = std::string(arg) + ": not a count: " + std::string(value);
                return false;
            }
            return true;
        };
        const auto noValue = [&]() -> bool {
            if (!hasValue) return true;
            error = std::string(arg) + " takes no value";
            return false;
        };

        bool ok = true;
        Faults& faults = result.options.faults;
        if (arg == "--help" || arg == "-h") {
            ok = noValue();
            result.help = true;
        } else if (arg == "--quiet" || arg == "-q") {
            ok = noValue();
            result.quiet = true;
        } else if (arg == "--link") {
            ok = takeValue();
            if (ok && value.empty()) {
                error = "--link needs a path";
                ok = false;
            }
            if (ok) result.options.linkPath = std::string(value);
        } else if (arg == "--baud") {
            ok = takeCount(result.options.baud);
        } else if (arg == "--nak-first") {
            ok = takeCount(faults.nakFirstBlocks);
        } else if (arg == "--bad-checksum-first") {
            ok = takeCount(faults.badChecksumFirstBlocks);
        } else if (arg == "--silent-after-sent") {
            ok = takeCount(faults.silentAfterSentBytes);
        } else if (arg == "--silent-after-received") {
            ok = takeCount(faults.silentAfterReceivedBytes);
        } else if (arg == "--noise") {
            ok = noValue();
            faults.noiseAroundAcknowledgements = true;
        } else if (arg == "--wrong-echo") {
            ok = noValue();
            faults.wrongEcho = true;
        } else if (arg == "--no-prompt-after-exchange") {
            ok = noValue();
            faults.noPromptAfterExchange = true;
        } else {
            error = "unknown option: " + std::string(arg);
            ok = false;
        }
        if (!ok) return false;
    }
    return true;
}

}  // namespace sim
