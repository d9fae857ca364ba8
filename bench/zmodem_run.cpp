#include "bench/zmodem_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "bench/paced_relay.h"
#include "tests/support/e2e_temp_folder.h"

extern char** environ;

namespace bench {
namespace {

std::string program(const char* name, const char* otherName) {
    for (const char* folder : {"/usr/bin/", "/usr/local/bin/"}) {
        for (const char* candidate : {name, otherName}) {
            const std::string path = std::string(folder) + candidate;
            if (::access(path.c_str(), X_OK) == 0) return path;
        }
    }
    return {};
}

// Runs `argv` in `folder` with standard input and output on `line` and its
// messages to `log`; 0 when it could not be started.
pid_t spawnOnLine(std::vector<std::string> argv, int line, const std::string& folder,
                  const std::string& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, line, 0);
    posix_spawn_file_actions_adddup2(&actions, line, 1);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : 0;
}

// Waits for the program until the deadline, then ends it; true when it
// ended by itself with status 0.
bool awaitExit(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    if (pid <= 0) return false;
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

}  // namespace

ZmodemResult runZmodem(const std::string& data, std::int32_t baud, double limitSeconds) {
    ZmodemResult result;
    const std::string sz = program("sz", "lsz");
    const std::string rz = program("rz", "lrz");
    if (sz.empty() || rz.empty()) {
        result.skipped = "lrzsz is not installed (apt-get install lrzsz)";
        return result;
    }
    e2e::TempFolder folder;
    const std::string sent = folder.file("image.bin");
    const std::string inbox = folder.file("inbox");
    if (!e2e::writeFile(sent, data) || ::mkdir(inbox.c_str(), 0700) != 0) {
        result.skipped = "no room for the files in " + folder.path();
        return result;
    }
    PacedRelay line(baud);
    if (!line.start()) {
        result.skipped = "no pseudo-terminals for the line";
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(std::int64_t(limitSeconds * 1000));
    const std::string log = folder.file("lrzsz.log");
    // The receiver first, so that the sender finds it waiting.
    const pid_t receiver = spawnOnLine({rz, "-b", "-y"}, line.slaveB(), inbox, log);
    const pid_t sender = receiver > 0 ? spawnOnLine({sz, "-b", sent}, line.slaveA(), folder.path(), log) : 0;
    // The session is over when sz has had rz's closing ZFIN and exits. Its
    // "OO" after that is flushed (tcflush) before a pseudo-terminal line can
    // carry it, so rz would wait twenty seconds for it: a second is left.
    result.finished = awaitExit(sender, deadline);
    line.stop();
    awaitExit(receiver, std::chrono::steady_clock::now() + std::chrono::seconds(1));
    line.closeSlaves();
    result.wireSeconds = line.wireSeconds();
    result.intact = e2e::readFile(inbox + "/image.bin") == data;
    return result;
}

}  // namespace bench
