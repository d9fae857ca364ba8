#pragma once

// The console binary run as a CI job runs it: no terminal, standard input and
// output redirected or closed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/e2e_console.h"
#include "tests/support/e2e_session.h"

namespace e2e {

extern "C" char** environ;

struct BatchRun {
    // Standard input: a file to read, or closed when empty.
    std::string input = "/dev/null";
    // Standard output: a file (created), or the write end of a pipe.
    std::string output;
    int outputFd = -1;
    // Standard error, for the start-up refusals.
    std::string errors = "/dev/null";
    std::string configHome;
};

// The exit status, or nothing when it did not end within the timeout (it is
// killed then).
inline std::optional<int> runConsole(const BatchRun& run, const std::vector<std::string>& arguments,
                                     milliseconds timeout = milliseconds(20000)) {
    std::vector<std::string> texts{consoleBinary()};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment{"XDG_CONFIG_HOME=" + run.configHome, "TERM=dumb",
                                         "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (run.input.empty()) {
        posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, run.input.c_str(), O_RDONLY, 0);
    }
    if (run.outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, run.outputFd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, run.output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, run.errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // A new process group: the terminal of the test run (if any) is not its.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) return std::nullopt;

    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    if (!WIFEXITED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

// Runs the console on a simulated target; stdout in out.txt, stderr in
// err.txt of a folder of the test's own.
class BatchRunTest : public ::testing::Test {
protected:
    std::optional<int> run(sim::SimTarget& target, const std::vector<std::string>& arguments,
                           BatchRun settings = {}, milliseconds timeout = milliseconds(20000)) {
        settings.configHome = folder.path();
        if (settings.output.empty() && settings.outputFd < 0) settings.output = folder.file("out.txt");
        settings.errors = folder.file("err.txt");
        std::vector<std::string> all{"-p" + target.slavePath()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return runConsole(settings, all, timeout);
    }
    std::string script(const std::string& name, const std::string& text) {
        const std::string path = folder.file(name);
        EXPECT_TRUE(writeFile(path, text));
        return path;
    }
    std::string out() const { return readFile(folder.file("out.txt")); }
    std::string err() const { return readFile(folder.file("err.txt")); }

    TempFolder folder;
};

}  // namespace e2e
