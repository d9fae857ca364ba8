// Script lines may name any file for "local auto" to open: a serial device,
// a FIFO or a terminal among them, whose open alone may block or touch
// hardware. A binary that links this file has every open() go through the
// check below, which lets it reach only the scratch folder.
#include "fuzz/open_guard.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "fuzz/scratch_folder.h"

namespace {

bool confined = false;

bool stepsUp(std::string_view path) {
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

bool mayOpen(const char* path) {
    if (!confined) return true;
    if (path == nullptr || stepsUp(path)) return false;
    if (path[0] != '/') return true;  // the working folder is the scratch folder
    const std::string& folder = fuzzing::scratchFolder();
    return std::strncmp(path, folder.c_str(), folder.size()) == 0 && path[folder.size()] == '/';
}

int guardedOpen(const char* path, int flags, mode_t mode) {
    if (!mayOpen(path)) {
        errno = ENOENT;
        return -1;
    }
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

bool takesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

std::string absolute(const std::string& path, const std::string& base) {
    return path.empty() || path[0] == '/' ? path : base + "/" + path;
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, unsigned int));
        va_end(arguments);
    }
    return guardedOpen(path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, unsigned int));
        va_end(arguments);
    }
    return guardedOpen(path, flags, mode);
}

namespace fuzzing {

void confineOpensToScratchFolder(int* argc, char*** argv) {
    char here[PATH_MAX];
    require(getcwd(here, sizeof here) != nullptr, "the working folder is known");
    const std::string base = here;

    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    bool hasArtifactPrefix = false;
    for (int i = 0; i < *argc; ++i) {
        std::string argument = (*argv)[i];
        if (i > 0 && argument[0] != '-') {
            argument = absolute(argument, base);  // a corpus folder or an input
        }
        for (const char* flag : {"-artifact_prefix=", "-exact_artifact_path=", "-dict="}) {
            const std::size_t length = std::strlen(flag);
            if (argument.compare(0, length, flag) == 0) {
                argument = flag + absolute(argument.substr(length), base);
                hasArtifactPrefix = hasArtifactPrefix || flag[1] == 'a';
            }
        }
        arguments.push_back(argument);
    }
    if (!hasArtifactPrefix) arguments.push_back("-artifact_prefix=" + base + "/");
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    *argc = static_cast<int>(arguments.size());
    *argv = pointers.data();

    require(chdir(scratchFolder().c_str()) == 0, "the scratch folder is the working folder");
    confined = true;
}

}  // namespace fuzzing
