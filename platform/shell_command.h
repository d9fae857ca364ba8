#pragma once

#include <functional>

namespace platform {

// Runs a command through the host's command interpreter and waits for it,
// calling whileWaiting (when set) every few tens of milliseconds meanwhile.
// The command and everything it starts form a group of their own (a process
// group, a job object on Windows): once the program is asked to end, the
// group is told to end too and, should it not within about a second, killed.
// Returns the command's exit status, -1 when it could not run or was ended.
int runShellCommand(const char* command, const std::function<void()>& whileWaiting);

}  // namespace platform
