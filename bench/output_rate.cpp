// Output throughput: the target talks without pause; how fast does the
// console put it on the screen, against what the line delivers, and does
// every byte arrive in order? "sent" is what the target's transcript shows
// leaving it, so a console that keeps up shows close to 100 % of it.
#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "tests/support/e2e_session.h"

namespace {

constexpr const char* usage =
    "usage: tolvanis-bench-output [--quick]\n"
    "Screen throughput of the console for 200 KB of target output (40 KB with\n"
    "--quick), with the target pacing at 115200 baud and unpaced.\n";

// Lines of text, numbered, without anything the console acts on (no '>').
std::string talk(std::size_t size) {
    std::string text;
    for (std::size_t line = 0; text.size() < size; ++line) {
        char head[32];
        std::snprintf(head, sizeof head, "%08zu ", line);
        text += head;
        for (int i = 0; i < 56; ++i) text += char('a' + (line + std::size_t(i)) % 26);
        text += "\r\n";
    }
    text.resize(size - 2);
    text += "\r\n";
    return text;
}

// What a terminal with output processing shows for the text: each "\n"
// arrives as "\r\n".
std::string asShown(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        if (c == '\n') shown += '\r';
        shown += c;
    }
    return shown;
}

struct Result {
    bool complete = false;
    bool intact = false;
    // From the target being told to talk to the last byte on the screen,
    // and to the last byte leaving the target.
    double shownSeconds = 0;
    double sentSeconds = 0;
};

Result measure(std::int32_t baud, const std::string& text) {
    Result result;
    sim::Options targetOptions;
    targetOptions.baud = baud;
    e2e::ConsoleOnTarget session(targetOptions);
    if (!session.start(baud > 0 ? baud : 115200)) {
        std::fprintf(stderr, "the console did not reach the monitor prompt\n");
        return result;
    }
    e2e::ConsoleProcess& console = session.console();
    // The monitor's first prompt is on the screen; what follows is the text.
    const std::size_t mark = console.mark();
    const std::string expected = asShown(text);
    // The last line is unique: its number.
    const std::string lastLine = expected.substr(expected.rfind('\n', expected.size() - 2) + 1);
    const double lineSeconds = baud > 0 ? double(text.size()) * 10.0 / baud : 0;
    const auto limit = std::chrono::milliseconds(std::int64_t(lineSeconds * 1500) + 60000);

    session.target().clearTranscript();
    const auto from = std::chrono::steady_clock::now();
    session.target().say(text);
    const auto found = console.findOnScreen(lastLine, limit, mark);
    const auto to = std::chrono::steady_clock::now();
    if (!found) return result;
    result.complete = true;
    result.shownSeconds = bench::secondsBetween(from, to);
    const auto transcript = session.target().transcript();
    for (auto entry = transcript.rbegin(); entry != transcript.rend(); ++entry) {
        if (entry->direction == sim::Direction::FromTarget) {
            result.sentSeconds = bench::secondsBetween(from, entry->at);
            break;
        }
    }
    result.intact = console.screenSince(mark).substr(0, expected.size()) == expected;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::parseOptions(argc, argv, usage, options)) return 2;
    const std::string text = talk(options.quick ? 40 * 1000 : 200 * 1000);

    std::printf("Console output throughput, %zu bytes said by the target without pause\n\n",
                text.size());
    bench::Table table({"target pacing", "seconds", "bytes/s shown", "bytes/s sent",
                        "shown of sent", "baud/10", "all bytes in order"});
    bool good = true;
    for (const std::int32_t baud : {115200, 0}) {
        const Result result = measure(baud, text);
        const std::string pacing = baud > 0 ? std::to_string(baud) + " baud" : "unpaced";
        if (!result.complete) {
            table.add({pacing, "-", "-", "-", "-", "-", "incomplete"});
            good = false;
            continue;
        }
        const double shown = double(text.size()) / result.shownSeconds;
        const double sent = result.sentSeconds > 0 ? double(text.size()) / result.sentSeconds : 0;
        table.add({pacing, bench::fixed(result.shownSeconds, 3), bench::fixed(shown, 0),
                   sent > 0 ? bench::fixed(sent, 0) : "-",
                   sent > 0 ? bench::fixed(100.0 * shown / sent, 1) + " %" : "-",
                   baud > 0 ? std::to_string(baud / 10) : "-", result.intact ? "yes" : "NO"});
        good = good && result.intact;
    }
    table.print();
    return good ? 0 : 1;
}
