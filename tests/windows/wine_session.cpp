#include "tests/windows/wine_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace wine {

namespace {

using Clock = std::chrono::steady_clock;

// Prefix creation takes about ten seconds here; a slow machine gets more.
constexpr std::chrono::seconds PrefixCreationTimeout{240};

std::string wineProgram() {
    const char* chosen = std::getenv("TOLVANIS_WINE");
    return chosen != nullptr && *chosen != '\0' ? chosen : "wine";
}

// The environment of a child: ours without a display (Wine then needs none),
// with the prefix's settings and the extras on top.
std::vector<std::string> childEnvironment(const Environment& settings) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || settings.count(name) != 0) continue;
        result.push_back(text);
    }
    for (const auto& [name, value] : settings) result.push_back(name + "=" + value);
    return result;
}

[[noreturn]] void execute(const std::vector<std::string>& command, const Environment& settings) {
    std::vector<std::string> environment = childEnvironment(settings);
    std::vector<char*> argv;
    for (const std::string& part : command) argv.push_back(const_cast<char*>(part.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
}

std::optional<int> exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return std::nullopt;
}

// Runs a command with its standard output and error captured; killed (with
// its process group) when it outlives the time-out.
CommandResult runCaptured(const std::vector<std::string>& command, const Environment& settings,
                          std::chrono::milliseconds timeout) {
    CommandResult result;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return result;
    }
    if (pid == 0) {
        setpgid(0, 0);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        execute(command, settings);
    }
    close(pipeFds[1]);
    const auto deadline = Clock::now() + timeout;
    bool open = true;
    int status = 0;
    bool reaped = false;
    while (!reaped) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            close(pipeFds[0]);
            result.exitCode.reset();
            return result;
        }
        if (open) {
            pollfd readable{pipeFds[0], POLLIN, 0};
            if (poll(&readable, 1, static_cast<int>(std::min<long long>(left.count(), 50))) > 0) {
                char chunk[4096];
                const ssize_t got = read(pipeFds[0], chunk, sizeof chunk);
                if (got > 0) {
                    result.output.append(chunk, static_cast<std::size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    open = false;
                }
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (waitpid(pid, &status, WNOHANG) == pid) reaped = true;
    }
    // What the command wrote just before it ended; a daemon it started may
    // hold the pipe open, so this does not wait for the end of the stream.
    for (;;) {
        pollfd readable{pipeFds[0], POLLIN, 0};
        if (!open || poll(&readable, 1, 0) <= 0) break;
        char chunk[4096];
        const ssize_t got = read(pipeFds[0], chunk, sizeof chunk);
        if (got <= 0) break;
        result.output.append(chunk, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    result.exitCode = exitCodeOf(status);
    return result;
}

}  // namespace

Prefix::Prefix() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvanis-wine-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        folder_ = pattern;
        prefix_ = folder_ + "/prefix";
        comLink_ = folder_ + "/com1";
    }
}

Prefix::~Prefix() {
    if (folder_.empty()) return;
    stopServer();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

Environment Prefix::environment() const {
    // No Mono or Gecko: their installers would ask on a display.
    return {{"WINEPREFIX", prefix_}, {"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="}};
}

CommandResult Prefix::wine(const std::vector<std::string>& arguments, std::chrono::seconds timeout) const {
    std::vector<std::string> command{wineProgram()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runCaptured(command, environment(), timeout);
}

void Prefix::stopServer() const {
    runCaptured({"wineserver", "-k"}, environment(), std::chrono::seconds(30));
}

bool Prefix::setUp() {
    if (folder_.empty()) {
        error_ = "no temporary folder";
        return false;
    }
    // The first command makes the prefix. The port is mapped through the
    // registry: a bare link in dosdevices would be replaced by the machine's
    // first serial port when the prefix's services start.
    const CommandResult added = wine({"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/t",
                                      "REG_SZ", "/d", comLink_, "/f"},
                                     PrefixCreationTimeout);
    if (added.exitCode != 0) {
        error_ = "wine reg add failed: " + added.output;
        return false;
    }
    // The services read the mapping when they start.
    stopServer();
    const CommandResult started = wine({"reg", "query", "HKLM\\Software\\Wine\\Ports"});
    if (started.exitCode != 0) {
        error_ = "wine reg query failed: " + started.output;
        return false;
    }
    if (!com1IsTheLink()) {
        error_ = "the prefix's COM1 is not " + comLink_;
        return false;
    }
    return true;
}

bool Prefix::com1IsTheLink() const {
    char target[4096];
    const std::string device = prefix_ + "/dosdevices/com1";
    const ssize_t length = readlink(device.c_str(), target, sizeof target - 1);
    return length > 0 && std::string(target, static_cast<std::size_t>(length)) == comLink_;
}

std::string Prefix::absentPort() const {
    for (int n = 250; n >= 100; --n) {
        const std::string device = prefix_ + "/dosdevices/com" + std::to_string(n);
        std::error_code error;
        if (!std::filesystem::is_symlink(device, error) && !std::filesystem::exists(device, error)) {
            return "COM" + std::to_string(n);
        }
    }
    return "";
}

std::string Prefix::makeWorkFolder(const std::string& name) const {
    const std::string path = folder_ + "/" + name;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return error ? std::string() : path;
}

ConsoleProgram::ConsoleProgram(const Prefix& prefix, const std::vector<std::string>& arguments,
                               const std::string& folder, const Environment& extra, Input input) {
    if (!prefix.com1IsTheLink()) return;  // never run against a port we did not map
    Environment settings = prefix.environment();
    settings["TERM"] = "xterm";
    for (const auto& [name, value] : extra) settings[name] = value;
    std::vector<std::string> command{wineProgram()};
    command.insert(command.end(), arguments.begin(), arguments.end());

    int keys[2] = {-1, -1};
    if (input == Input::Pipe && pipe2(keys, O_CLOEXEC) != 0) return;
    winsize size{};
    size.ws_row = Rows;
    size.ws_col = Columns;
    const pid_t pid = forkpty(&master_, nullptr, nullptr, &size);
    if (pid < 0) {
        master_ = -1;
        for (const int end : keys) {
            if (end >= 0) close(end);
        }
        return;
    }
    if (pid == 0) {
        if (keys[0] >= 0) dup2(keys[0], STDIN_FILENO);
        if (chdir(folder.c_str()) != 0) _exit(126);
        execute(command, settings);
    }
    if (keys[0] >= 0) close(keys[0]);
    pipe_ = keys[1];
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    pid_ = pid;
}

ConsoleProgram::~ConsoleProgram() {
    kill();
    if (master_ >= 0) close(master_);
    if (pipe_ >= 0) close(pipe_);
}

void ConsoleProgram::pipe(const std::string& bytes) {
    // A program that has gone fails the write instead of killing the test.
    signal(SIGPIPE, SIG_IGN);
    if (pipe_ >= 0 && write(pipe_, bytes.data(), bytes.size()) < 0) {
        close(pipe_);
        pipe_ = -1;
    }
}

void ConsoleProgram::kill() {
    if (pid_ > 0 && !exited_) {
        // The child leads a session of its own: its whole group goes.
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
    }
}

void ConsoleProgram::type(const std::string& bytes) {
    std::size_t done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t written = write(master_, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

void ConsoleProgram::pump(int timeoutMs) {
    if (master_ < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    pollfd readable{master_, POLLIN, 0};
    if (poll(&readable, 1, timeoutMs) <= 0) return;
    char chunk[4096];
    const ssize_t got = read(master_, chunk, sizeof chunk);
    if (got > 0) {
        screen_.feed(chunk, static_cast<std::size_t>(got));
    } else if (got < 0 && errno != EINTR && errno != EAGAIN) {
        // EIO: every process holding the terminal has gone.
        close(master_);
        master_ = -1;
    }
}

std::string ConsoleProgram::normalisedScreen() const {
    return normalised(screen_.text());
}

bool ConsoleProgram::waitForText(const std::string& text, std::chrono::milliseconds timeout) {
    const std::string wanted = normalised(text);
    return waitUntil([&] { return normalisedScreen().find(wanted) != std::string::npos; }, timeout);
}

bool ConsoleProgram::waitForEnding(const std::string& text, std::chrono::milliseconds timeout) {
    const std::string wanted = normalised(text);
    return waitUntil(
        [&] {
            const std::string shown = normalisedScreen();
            return shown.size() >= wanted.size() &&
                   shown.compare(shown.size() - wanted.size(), wanted.size(), wanted) == 0;
        },
        timeout);
}

std::optional<int> ConsoleProgram::waitForExit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return std::nullopt;
    const bool ended = waitUntil(
        [&] {
            if (exited_) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                exitCode_ = exitCodeOf(status);
            }
            return exited_;
        },
        timeout);
    if (!ended) return std::nullopt;
    // What the console drew last; its terminal closes when the console goes.
    const auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (master_ >= 0 && Clock::now() < deadline) pump(50);
    return exitCode_;
}

std::string windowsLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string normalised(const std::string& text) {
    std::string result;
    bool blank = false;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            blank = true;
            continue;
        }
        if (blank && !result.empty()) result += ' ';
        blank = false;
        result += c;
    }
    return result;
}

}  // namespace wine
