#include <new>

#include "console/console.h"
#include "loader/detect_format.h"
#include "loader/ecoff_file_job.h"
#include "loader/elf_file_job.h"
#include "loader/exe_file_job.h"

bool Console::load(const char* path, SerialPort* portIn) {
    starsShown = 0;
    ExecutableJob* job = nullptr;
    switch (detectFormat(path)) {
    case ExeFormat:
        print("QORA-EXE format\n");
        job = new (std::nothrow) ExeFileJob();
        break;
    case EcoffFormat:
        print("kembri format\n");
        job = new (std::nothrow) EcoffFileJob();
        break;
    case ElfFormat:
        print("ELF format\n");
        job = new (std::nothrow) ElfFileJob();
        break;
    case MissingFile:
        print("file not found\n");
        state = Typing;
        sendChar(keys::Enter);
        return false;
    default:
        print("unknown format\n");
        state = Typing;
        sendChar(keys::Enter);
        return false;
    }

    // A job that could not be made is reported like a file that could not
    // be opened: either way there is nothing to send.
    const char* failure = nullptr;
    if (job == nullptr || !job->openFile(path)) {
        failure = "cannot open file\n";
    } else if (!job->start(portIn)) {
        failure = "cannot send file\n";
    }
    // The wait closes the file and deletes the job on every way out.
    if (failure == nullptr) return foregroundWait(job);

    state = Typing;
    sendChar(keys::Enter);
    print(failure);
    discardJob(job);
    return false;
}
