#include "tests/support/usb_guest.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>

#ifndef TOLVANIS_USB_GUEST_TOOL
#error "TOLVANIS_USB_GUEST_TOOL must name tools/usb-guest.sh"
#endif
#ifndef TOLVANIS_BUILD_DIR
#error "TOLVANIS_BUILD_DIR must name the build folder"
#endif

namespace e2e {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const std::string tool = TOLVANIS_USB_GUEST_TOOL;
const sched_param emulatorPriority{1};
const std::string build = TOLVANIS_BUILD_DIR;

// A shell word that stays one word whatever it holds.
std::string quoted(const std::string& word) {
    std::string out = "'";
    for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a tool command; its output, and whether it ended with status 0.
bool runTool(const std::string& arguments, std::string& output) {
    FILE* pipe = ::popen((quoted(tool) + " " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return false;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
    return ::pclose(pipe) == 0;
}

// The base image holds the console binary, so it is made anew once a run.
bool baseImage(std::string& error) {
    static bool made = false;
    static std::string why;
    if (!made && why.empty() && !runTool("image " + quoted(build), why)) return (error = why, false);
    made = true;
    return true;
}

}  // namespace

bool UsbGuest::aheadOfTheHost(bool ahead) {
    const sched_param normal{0};
    return ::pthread_setschedparam(::pthread_self(), ahead ? SCHED_RR : SCHED_OTHER,
                                   ahead ? &emulatorPriority : &normal) == 0;
}

std::string UsbGuest::missing() {
    std::string reason;
    if (runTool("check", reason)) return "";
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    return reason.empty() ? "tools/usb-guest.sh check failed" : reason;
}

bool UsbGuest::start(const std::string& adapterPort, const std::string& script) {
    if (!baseImage(error_)) return false;
    const std::string tests = folder_.file("test");
    ::mkdir(tests.c_str(), 0755);
    for (const auto& [name, bytes] : files_) writeFile(tests + "/" + name, bytes);
    writeFile(tests + "/run", "#!/bin/sh\n" + script);
    ::chmod((tests + "/run").c_str(), 0755);
    std::string said;
    if (!runTool("pack " + quoted(build) + " " + quoted(tests) + " " + quoted(folder_.file("initrd.cpio")), said)) {
        error_ = "cannot pack the guest: " + said;
        return false;
    }
    // Made before fork: the child of a threaded test may only exec.
    std::vector<std::string> words{"/bin/bash", tool, "run", build, "-a", adapterPort, "-i",
                                   folder_.file("initrd.cpio"), "-t", folder_.file("trace.log"),
                                   "-m", folder_.file("monitor.sock")};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int fds[2];
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull < 0 || ::pipe2(fds, O_CLOEXEC) != 0) return (error_ = "no pipe", false);
    pid_ = ::fork();
    if (pid_ == 0) {
        // QEMU stands for the adapter's chip and the host's USB controller,
        // which a busy host never starves; starved, the emulation hands a
        // reply on after the console's 110 ms. Root only; elsewhere it stays.
        ::sched_setscheduler(0, SCHED_RR, &emulatorPriority);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    ::close(devNull);
    output_ = fds[0];
    if (pid_ < 0) return (error_ = "cannot fork", false);
    // About 5 s on an idle machine; a loaded one gets more.
    if (!waitFor("guest: ready", std::chrono::seconds(90))) {
        error_ = "the guest did not come up:\n" + console_;
        return false;
    }
    return true;
}

bool UsbGuest::pump(milliseconds wait) {
    pollfd readable{output_, POLLIN, 0};
    if (output_ < 0 || ::poll(&readable, 1, int(wait.count())) <= 0) return output_ >= 0;
    char chunk[4096];
    const ssize_t got = ::read(output_, chunk, sizeof chunk);
    if (got > 0) {
        // The guest's console ends lines with CR LF.
        for (ssize_t i = 0; i < got; ++i) {
            if (chunk[i] != '\r') console_ += chunk[i];
        }
        return true;
    }
    if (got < 0 && errno == EINTR) return true;
    ::close(output_);
    output_ = -1;
    return false;
}

bool UsbGuest::waitFor(const std::string& text, milliseconds limit, std::size_t from) {
    const auto deadline = Clock::now() + limit;
    while (console_.find(text, std::min(from, console_.size())) == std::string::npos) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !pump(std::min(left, milliseconds(100)))) return false;
    }
    return true;
}

int UsbGuest::finish(milliseconds limit) {
    const std::string mark = "guest: done ";
    if (!waitFor(mark, limit)) return -1;
    const int status = std::atoi(console_.c_str() + console_.rfind(mark) + mark.size());
    // poweroff -f ends QEMU at once; its output ends with it.
    while (output_ >= 0 && pump(milliseconds(100)) && console_.find("reboot: Power down") == std::string::npos) {
    }
    return status;
}

std::string UsbGuest::scriptOutput() const {
    const std::size_t ready = console_.find("guest: ready");
    return ready == std::string::npos ? console_ : console_.substr(ready);
}

std::string UsbGuest::monitor(const std::string& command) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, folder_.file("monitor.sock").c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) ::close(fd);
        return "cannot reach the monitor";
    }
    // The greeting ends in a prompt, and so does the answer.
    std::string said;
    bool sent = false;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (said.find("(qemu) ") != std::string::npos) {
            if (sent) break;
            said.clear();
            const std::string line = command + "\n";
            if (::write(fd, line.data(), line.size()) != ssize_t(line.size())) break;
            sent = true;
        }
        pollfd readable{fd, POLLIN, 0};
        char chunk[512];
        ssize_t got = 0;
        if (::poll(&readable, 1, 100) > 0 && (got = ::read(fd, chunk, sizeof chunk)) <= 0) break;
        said.append(chunk, std::size_t(std::max<ssize_t>(got, 0)));
    }
    ::close(fd);
    return said;
}

bool UsbGuest::unplug() {
    const std::string id = plugs_ == 0 ? "adapter" : "adapter" + std::to_string(plugs_);
    return monitor("device_del " + id).find("rror") == std::string::npos;
}

bool UsbGuest::plugIn() {
    ++plugs_;
    // The chardev stays taken until the guest has let the old adapter go.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    std::string said;
    while (Clock::now() < deadline) {
        said = monitor("device_add usb-serial,chardev=u0,id=adapter" + std::to_string(plugs_));
        if (said.find("rror") == std::string::npos) return true;
        pump(milliseconds(200));
    }
    error_ = "device_add: " + said;
    return false;
}

std::vector<AdapterControl> UsbGuest::controls() const {
    static const std::regex line("usb_serial_handle_control .* got control 0x([0-9a-f]+), value 0x([0-9a-f]+)");
    static const std::regex flow("usb_serial_set_flow_control .* flow control ([0-9]+)");
    constexpr unsigned setFlowControl = 0x4002;
    std::vector<AdapterControl> found;
    std::ifstream trace(folder_.file("trace.log"));
    std::string text;
    std::smatch match;
    while (std::getline(trace, text)) {
        if (std::regex_search(text, match, line)) {
            found.push_back({unsigned(std::stoul(match[1], nullptr, 16)), unsigned(std::stoul(match[2], nullptr, 16))});
        } else if (std::regex_search(text, match, flow) && !found.empty() && found.back().request == setFlowControl) {
            found.back().value = unsigned(std::stoul(match[1]));
        }
    }
    return found;
}

void UsbGuest::stopQemu() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

UsbGuest::~UsbGuest() {
    stopQemu();
    if (output_ >= 0) ::close(output_);
}

std::string guestBatch(const std::string& name, const std::string& script, const std::string& options) {
    return "tolvanis -p/dev/ttyUSB0 -b230400 --batch --timeout 60 " + options + " /test/" + script +
           "\necho \"" + name + " status $?\"\n";
}

int batchStatus(const std::string& console, const std::string& name) {
    const std::string mark = name + " status ";
    const std::size_t at = console.find(mark);
    return at == std::string::npos ? -1 : std::atoi(console.c_str() + at + mark.size());
}

}  // namespace e2e
