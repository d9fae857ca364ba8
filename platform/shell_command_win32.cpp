#include "platform/shell_command.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/terminal.h"

namespace platform {

namespace {

constexpr DWORD LookIntervalMs = 20;
constexpr DWORD EndGraceMs = 1000;

// The command interpreter the C library's system() would use.
std::string commandLine(const char* command) {
    const char* interpreter = std::getenv("COMSPEC");
    return std::string(interpreter != nullptr && *interpreter != '\0' ? interpreter : "cmd.exe") +
           " /c " + command;
}

}  // namespace

int runShellCommand(const char* command, const std::function<void()>& whileWaiting) {
    // The job holds the command and whatever it starts, so that ending the
    // job ends them all. Created suspended, so that nothing it starts runs
    // before it is in the job.
    const HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return -1;
    std::string line = commandLine(command);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &process)) {
        CloseHandle(job);
        return -1;
    }
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    int result = -1;
    for (;;) {
        if (WaitForSingleObject(process.hProcess, LookIntervalMs) != WAIT_TIMEOUT) {
            DWORD code = 0;
            if (GetExitCodeProcess(process.hProcess, &code)) result = static_cast<int>(code);
            break;
        }
        if (terminationRequested()) {
            TerminateJobObject(job, 1);
            WaitForSingleObject(process.hProcess, EndGraceMs);
            break;
        }
        if (whileWaiting) whileWaiting();
    }
    CloseHandle(process.hProcess);
    CloseHandle(job);
    return result;
}

}  // namespace platform
