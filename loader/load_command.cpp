#include "loader/load_command.h"

#include <new>
#include <utility>

#include "console/console.h"
#include "loader/detect_format.h"
#include "loader/ecoff_file_job.h"
#include "loader/elf_file_job.h"
#include "loader/exe_file_job.h"
#include "platform/host_file_io.h"
#include "transfer/foreground_wait.h"

bool load(Console& console, const char* path, SerialPort* port) {
    console.starsShown = 0;
    Owned<ExecutableJob> job;
    // The session log is no file to load, whatever its bytes say.
    if (platform::isKeptFromHostFiles(path)) return console.refuseAfterReturn("cannot open file\n");
    switch (detectFormat(path)) {
    case ExeFormat:
        console.print("QORA-EXE format\n");
        job.reset(new (std::nothrow) ExeFileJob());
        break;
    case EcoffFormat:
        console.print("kembri format\n");
        job.reset(new (std::nothrow) EcoffFileJob());
        break;
    case ElfFormat:
        console.print("ELF format\n");
        job.reset(new (std::nothrow) ElfFileJob());
        break;
    case MissingFile:
        return console.refuse("file not found\n");
    default:
        return console.refuse("unknown format\n");
    }

    // A job that could not be made is reported like a file that could not
    // be opened: either way there is nothing to send. Here the line goes
    // back to the target before the message.
    if (job == nullptr || !job->openFile(path)) return console.refuseAfterReturn("cannot open file\n");
    if (!job->start(port)) return console.refuseAfterReturn("cannot send file\n");
    // The wait closes the file and deletes the job on every way out.
    return foregroundWait(console, std::move(job));
}
