// tolvanis-sim: a simulated target monitor for trying the console without a
// board.
#include <csignal>
#include <cstdio>
#include <string>

#include "sim/command_line.h"
#include "sim/sim_target.h"

int main(int argc, char** argv) {
    sim::CommandLine commandLine;
    std::string error;
    if (!sim::parseCommandLine(argc, argv, commandLine, error)) {
        std::fprintf(stderr, "tolvanis-sim: %s\n%s", error.c_str(), sim::usageText().c_str());
        return 2;
    }
    if (commandLine.help) {
        std::fputs(sim::usageText().c_str(), stdout);
        return 0;
    }

    // Blocked before the serving thread starts, so that only sigwait below
    // takes them and the target shuts down in order.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::SimTarget target(commandLine.options);
    if (!target.start()) {
        std::fprintf(stderr, "tolvanis-sim: cannot open a pseudo-terminal%s\n",
                     commandLine.options.linkPath.empty() ? "" : " or make the link");
        return 1;
    }
    std::printf("%s\n", target.slavePath().c_str());
    std::fflush(stdout);
    if (!commandLine.quiet) {
        std::fprintf(stderr, "tolvanis-sim: monitor on %s%s%s; Ctrl-C stops it\n", target.slavePath().c_str(),
                     commandLine.options.linkPath.empty() ? "" : ", linked from ",
                     commandLine.options.linkPath.c_str());
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);
    target.stop();
    if (!commandLine.quiet) {
        std::fprintf(stderr, "tolvanis-sim: %d exchanges completed, %d abandoned\n", target.exchangesCompleted(),
                     target.exchangesAborted());
    }
    return 0;
}
