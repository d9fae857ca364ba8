// Key to wire and target byte to screen, for the console and, when they are
// installed, picocom and tio on the same harness in the same run: each runs
// on a pseudo-terminal as its screen and keyboard, with a second one as its
// serial line, whose far end this program plays. Samples come at random
// moments, so that they fall anywhere in a program's wait; "flooding" has
// the target send output without pause at 115200 baud meanwhile. With
// --wine, the Windows build runs under Wine instead, its COM1 the line, with
// Wine's own console between it and the screen.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "bench/bench_support.h"
#include "tests/support/e2e_console.h"
#include "tests/windows/wine_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* usage =
    "usage: tolvanis-bench-keys [--quick] [--wine TOLVANIS.EXE]\n"
    "Key to wire and byte to screen, 40 samples each (15 with --quick), silent\n"
    "and flooding line, beside picocom and tio where installed. With --wine, the\n"
    "Windows build under Wine alone, and its idle CPU over 10 s.\n";

bool installed(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// One terminal program between two pseudo-terminals. Under Wine, the
// prefix's COM1 is the line.
class Rig {
public:
    explicit Rig(const std::vector<std::string>& argumentsWithPort, const wine::Prefix* prefix = nullptr) {
        if (openpty(&line_, &lineSlave_, nullptr, nullptr, nullptr) != 0) return;
        std::string port = ttyname(lineSlave_);
        std::vector<std::string> arguments;
        if (prefix != nullptr) {
            std::error_code ignored;
            std::filesystem::remove(prefix->comLink(), ignored);
            std::filesystem::create_symlink(port, prefix->comLink(), ignored);
            if (!prefix->com1IsTheLink()) return;
            port = "COM1";
            arguments.push_back("wine");
            underWine_ = true;
        }
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
            if (prefix != nullptr) {
                for (const auto& [name, value] : prefix->environment()) setenv(name.c_str(), value.c_str(), 1);
                setenv("TERM", "xterm", 1);
                unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
            }
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
            // Wine's processes lead no group of the child's: its whole session goes.
            if (underWine_) kill(-pid_, SIGKILL);
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
        const auto letter = static_cast<std::size_t>(marker - 'A');
        const int before = markersSeen_[letter];
        const auto sent = Clock::now();
        if (::write(line_, &marker, 1) != 1) return std::nullopt;
        if (!seen_.wait_for(hold, milliseconds(2000), [&] { return markersSeen_[letter] > before; })) {
            return std::nullopt;
        }
        return 1000.0 * bench::secondsBetween(sent, markerAt_[letter]);
    }

    // Waits until the screen has shown letter (Wine takes seconds to start).
    bool waitForScreen(char letter, milliseconds timeout) {
        std::unique_lock<std::mutex> hold(lock_);
        const auto index = static_cast<std::size_t>(letter - 'A');
        return seen_.wait_for(hold, timeout, [&] { return markersSeen_[index] > 0; });
    }

    // Lowercase text at 115200 baud (16 bytes every 1.39 ms) until stopped.
    void startFlood() {
        flooding_ = true;
        flood_ = std::thread([this] {
            const char text[] = "flooding output\n";
            auto next = Clock::now();
            while (flooding_) {
                // A program that stops reading (or falls behind) does not
                // hold the flood's end for good.
                pollfd output{line_, POLLOUT, 0};
                if (poll(&output, 1, 100) > 0 && ::write(line_, text, 16) < 0) break;
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
    // Uppercase letters are the markers; the flood holds none. Each is
    // looked for by itself: Wine's console redraws what scrolls, earlier
    // markers with it.
    void readScreen() {
        char bytes[4096];
        while (!stop_) {
            pollfd input{screen_, POLLIN, 0};
            if (poll(&input, 1, 50) <= 0) continue;
            const ssize_t got = ::read(screen_, bytes, sizeof bytes);
            if (got <= 0) break;
            const auto at = Clock::now();
            const std::lock_guard<std::mutex> hold(lock_);
            for (char letter = 'A'; letter <= 'Z'; ++letter) {
                if (std::memchr(bytes, letter, static_cast<std::size_t>(got)) == nullptr) continue;
                const auto index = static_cast<std::size_t>(letter - 'A');
                ++markersSeen_[index];
                markerAt_[index] = at;
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
    std::array<int, 26> markersSeen_{};
    std::array<Clock::time_point, 26> markerAt_{};
    bool underWine_ = false;
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
    std::string idle;   // under Wine: CPU while nothing happens
};

// The process of the prefix whose command line holds name, or -1.
pid_t wineProcess(const wine::Prefix& prefix, const std::string& name) {
    const std::string wanted = "WINEPREFIX=" + prefix.environment().at("WINEPREFIX");
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto read = [&](const char* file) {
            std::ifstream in(entry.path() / file, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        if (read("cmdline").find(name) != std::string::npos && read("environ").find(wanted) != std::string::npos) {
            return static_cast<pid_t>(std::stol(pid));
        }
    }
    return -1;
}

// CPU of tolvanis.exe and of the prefix's wineserver over ten idle seconds:
// a loop that spun would show in both, each of its waits being a server call.
std::string idleUnderWine(const wine::Prefix& prefix) {
    const pid_t program = wineProcess(prefix, "tolvanis.exe");
    const pid_t server = wineProcess(prefix, "wineserver");
    const auto programBefore = bench::cpuSeconds(program);
    const auto serverBefore = bench::cpuSeconds(server);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const auto programAfter = bench::cpuSeconds(program);
    const auto serverAfter = bench::cpuSeconds(server);
    if (!programBefore || !programAfter || !serverBefore || !serverAfter) return "not measured";
    return "tolvanis.exe " + bench::fixed(*programAfter - *programBefore, 2) + " s, wineserver " +
           bench::fixed(*serverAfter - *serverBefore, 2) + " s of CPU in 10 s";
}

Run measure(const std::string& name, const std::vector<std::string>& arguments, int samples,
            const wine::Prefix* prefix = nullptr) {
    Run run{name, {}, {}, {}};
    Rig rig(arguments, prefix);
    if (prefix != nullptr) {
        // The banner's first letter; then the idle span.
        if (!rig.waitForScreen('T', milliseconds(60000))) return run;
        std::this_thread::sleep_for(milliseconds(1500));
        run.idle = idleUnderWine(*prefix);
    }
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

void printTable(const std::vector<Run>& runs) {
    std::printf("Key to wire and byte to screen, ms: median / p95 / worst (samples)\n\n");
    bench::Table table({"program", "line", "key to wire", "byte to screen"});
    for (const Run& run : runs) {
        table.add({run.program, "silent", cell(run.keys[0]), cell(run.screen[0])});
        table.add({run.program, "flooding", cell(run.keys[1]), cell(run.screen[1])});
    }
    table.print();
}

// --wine EXE: the Windows build alone, in a prefix of its own.
int measureUnderWine(const std::string& exe, int samples) {
    wine::Prefix prefix;
    if (!prefix.setUp()) {
        std::fprintf(stderr, "no Wine prefix: %s\n", prefix.error().c_str());
        return 1;
    }
    const Run run = measure("tolvanis.exe", {std::filesystem::absolute(exe), "-pPORT", "-b115200"},
                            samples, &prefix);
    printTable({run});
    std::printf("\nIdle: %s\n", run.idle.empty() ? "not measured" : run.idle.c_str());
    return run.keys[0].count > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    std::string wineExe;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--wine") == 0 && i + 1 < argc) {
            wineExe = argv[++i];
        } else {
            rest.push_back(argv[i]);
        }
    }
    bench::Options options;
    if (!bench::parseOptions(static_cast<int>(rest.size()), rest.data(), usage, options)) return 2;
    const int samples = options.quick ? 15 : 40;
    if (!wineExe.empty()) return measureUnderWine(wineExe, samples);

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

    printTable(runs);
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
