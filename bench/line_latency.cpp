// Key to wire and target byte to screen, for the console and, when they are
// installed, picocom and tio on the same harness in the same run: each runs
// on a pseudo-terminal as its screen and keyboard, with a second one as its
// serial line, whose far end this program plays. Samples come at random
// moments, so that they fall anywhere in a program's wait; "flooding" has
// the target send output without pause at 115200 baud meanwhile.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "bench/bench_support.h"
#include "tests/support/e2e_console.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* usage =
    "usage: tolvanis-bench-keys [--quick]\n"
    "Key to wire and byte to screen, 40 samples each (15 with --quick), silent\n"
    "and flooding line, beside picocom and tio where installed.\n";

bool installed(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// One terminal program between two pseudo-terminals.
class Rig {
public:
    explicit Rig(const std::vector<std::string>& argumentsWithPort) {
        if (openpty(&line_, &lineSlave_, nullptr, nullptr, nullptr) != 0) return;
        const std::string port = ttyname(lineSlave_);
        std::vector<std::string> arguments;
        for (const std::string& a : argumentsWithPort) {
            arguments.push_back(a == "PORT" ? port : a.starts_with("-pPORT") ? "-p" + port : a);
        }
        winsize size{24, 80, 0, 0};
        pid_ = forkpty(&screen_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            const std::string home = std::filesystem::temp_directory_path() / "tolvanis-bench-home";
            std::filesystem::create_directories(home);
            setenv("HOME", home.c_str(), 1);
            setenv("XDG_CONFIG_HOME", home.c_str(), 1);
            std::vector<char*> argv;
            for (std::string& a : arguments) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        reader_ = std::thread([this] { readScreen(); });
    }
    ~Rig() {
        stopFlood();
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        for (int fd : {screen_, line_, lineSlave_}) if (fd >= 0) ::close(fd);
    }

    // The time from a key on the keyboard to its byte at the target.
    std::optional<double> keyToWire(char key) {
        const auto pressed = Clock::now();
        if (::write(screen_, &key, 1) != 1) return std::nullopt;
        for (;;) {
            pollfd input{line_, POLLIN, 0};
            if (poll(&input, 1, 2000) <= 0) return std::nullopt;
            char bytes[64];
            const ssize_t got = ::read(line_, bytes, sizeof bytes);
            if (got <= 0) return std::nullopt;
            if (std::find(bytes, bytes + got, key) != bytes + got) {
                return 1000.0 * bench::secondsBetween(pressed, Clock::now());
            }
        }
    }

    // The time from a byte the target sends to its showing on the screen.
    std::optional<double> byteToScreen(char marker) {
        std::unique_lock<std::mutex> hold(lock_);
        const int before = markersSeen_;
        const auto sent = Clock::now();
        if (::write(line_, &marker, 1) != 1) return std::nullopt;
        if (!seen_.wait_for(hold, milliseconds(2000), [&] { return markersSeen_ > before; })) {
            return std::nullopt;
        }
        return 1000.0 * bench::secondsBetween(sent, lastMarkerAt_);
    }

    // Lowercase text at 115200 baud (16 bytes every 1.39 ms) until stopped.
    void startFlood() {
        flooding_ = true;
        flood_ = std::thread([this] {
            const char text[] = "flooding output\n";
            auto next = Clock::now();
            while (flooding_) {
                if (::write(line_, text, 16) < 0) break;
                next += std::chrono::microseconds(1389);
                std::this_thread::sleep_until(next);
            }
        });
    }
    void stopFlood() {
        flooding_ = false;
        if (flood_.joinable()) flood_.join();
    }

private:
    // Uppercase letters are the markers; the flood holds none.
    void readScreen() {
        char bytes[4096];
        while (!stop_) {
            pollfd input{screen_, POLLIN, 0};
            if (poll(&input, 1, 50) <= 0) continue;
            const ssize_t got = ::read(screen_, bytes, sizeof bytes);
            if (got <= 0) break;
            const auto at = Clock::now();
            if (std::any_of(bytes, bytes + got, [](char c) { return c >= 'A' && c <= 'Z'; })) {
                const std::lock_guard<std::mutex> hold(lock_);
                ++markersSeen_;
                lastMarkerAt_ = at;
                seen_.notify_all();
            }
        }
    }

    int line_ = -1;
    int lineSlave_ = -1;
    int screen_ = -1;
    pid_t pid_ = -1;
    std::thread reader_;
    std::thread flood_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> flooding_{false};
    std::mutex lock_;
    std::condition_variable seen_;
    int markersSeen_ = 0;
    Clock::time_point lastMarkerAt_;
};

struct Figures {
    double median = 0, p95 = 0, worst = 0;
    std::size_t count = 0;
};

Figures figuresOf(std::vector<double> values) {
    Figures f;
    if (values.empty()) return f;
    std::sort(values.begin(), values.end());
    f.count = values.size();
    f.median = bench::median(values);
    f.p95 = values[std::min(values.size() - 1, (values.size() * 95 + 99) / 100 - 1)];
    f.worst = values.back();
    return f;
}

struct Run {
    std::string program;
    Figures keys[2];    // silent, flooding
    Figures screen[2];
};

Run measure(const std::string& name, const std::vector<std::string>& arguments, int samples) {
    Run run{name, {}, {}};
    Rig rig(arguments);
    std::this_thread::sleep_for(milliseconds(1500));  // started and the port open
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause(0, 150);
    for (int flooding = 0; flooding < 2; ++flooding) {
        if (flooding) rig.startFlood();
        std::vector<double> keys, screen;
        for (int i = 0; i < samples; ++i) {
            std::this_thread::sleep_for(milliseconds(pause(random)));
            if (const auto t = rig.keyToWire(static_cast<char>('a' + i % 26))) keys.push_back(*t);
            std::this_thread::sleep_for(milliseconds(pause(random)));
            if (const auto t = rig.byteToScreen(static_cast<char>('A' + i % 26))) screen.push_back(*t);
        }
        rig.stopFlood();
        run.keys[flooding] = figuresOf(keys);
        run.screen[flooding] = figuresOf(screen);
    }
    return run;
}

std::string cell(const Figures& f) {
    if (f.count == 0) return "no samples";
    return bench::fixed(f.median, 2) + " / " + bench::fixed(f.p95, 2) + " / " +
           bench::fixed(f.worst, 2) + " (" + std::to_string(f.count) + ")";
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::parseOptions(argc, argv, usage, options)) return 2;
    const int samples = options.quick ? 15 : 40;

    std::vector<Run> runs;
    runs.push_back(measure("tolvanis", {e2e::consoleBinary(), "-pPORT", "-b115200"}, samples));
    if (installed("picocom")) {
        runs.push_back(measure("picocom", {"picocom", "-q", "-b", "115200", "PORT"}, samples));
    } else {
        std::printf("picocom is not installed (apt-get install picocom): not compared\n");
    }
    if (installed("tio")) {
        runs.push_back(measure("tio", {"tio", "-b", "115200", "PORT"}, samples));
    } else {
        std::printf("tio is not installed (apt-get install tio): not compared\n");
    }

    std::printf("Key to wire and byte to screen, ms: median / p95 / worst (samples)\n\n");
    bench::Table table({"program", "line", "key to wire", "byte to screen"});
    for (const Run& run : runs) {
        table.add({run.program, "silent", cell(run.keys[0]), cell(run.screen[0])});
        table.add({run.program, "flooding", cell(run.keys[1]), cell(run.screen[1])});
    }
    table.print();
    if (runs.size() > 1) {
        std::printf("\nMedian of tolvanis over the other program's (silent line):\n");
        for (std::size_t i = 1; i < runs.size(); ++i) {
            const auto ratio = [](double a, double b) { return b > 0 ? bench::fixed(a / b, 2) : "-"; };
            std::printf("  %-8s key to wire %sx, byte to screen %sx\n", runs[i].program.c_str(),
                        ratio(runs[0].keys[0].median, runs[i].keys[0].median).c_str(),
                        ratio(runs[0].screen[0].median, runs[i].screen[0].median).c_str());
        }
    }
    return 0;
}
