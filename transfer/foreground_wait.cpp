#include "transfer/foreground_wait.h"

#include "console/console.h"
#include "platform/deadline.h"
#include "platform/keyboard.h"
#include "platform/terminal.h"
#include "transfer/block_codec.h"

namespace {

constexpr std::uint32_t FinishPollMs = 10;
// One poll cycle: the stars are brought up to date once per cycle.
constexpr platform::milliseconds PollCycle(200);
// Within a cycle, how often the keyboard is looked at. Keys are read about
// as they come, so that the keyboard's own timing tells an ESC followed by
// another key from the escape sequence of a key: looked at once a cycle,
// ESC and a letter typed after it read as one Alt+letter and the cancel was
// lost. The wait ends at once when the worker does.
constexpr std::uint32_t KeyLookMs = 10;

// Keys typed during a transfer: true when one of them is ESC. Nothing typed
// reaches the target meanwhile.
bool escapeTyped(Keyboard& keyboard) {
    while (keyboard.keyWaiting()) {
        if (keyboard.readKey() == keys::Escape) return true;
    }
    return false;
}

}  // namespace

bool waitForJob(Console& console, TransferJob& job) {
    if (job.waitFinished(FinishPollMs)) {
        console.print("\n");
        // The worker prints nothing; its outcome is told here, once it ended.
        if (!job.workerSucceeded()) console.print("transfer failed\n");
        console.handBack();
        return true;
    }
    const auto blocksDone = static_cast<std::int32_t>(job.bytesDone() / BlockSize);
    for (; console.starsShown < blocksDone; ++console.starsShown) console.print("*");
    return false;
}

bool foregroundWait(Console& console, Owned<TransferJob> job) {
    console.state = Transferring;
    for (;;) {
        if (waitForJob(console, *job)) return job->workerSucceeded();
        const auto cycle = platform::Deadline::after(PollCycle);
        bool cancel = false;
        while (!cancel && !cycle.passed() && !job->waitFinished(KeyLookMs)) {
            platform::noteRunning();
            cancel = platform::terminationRequested() || escapeTyped(console.keyboard());
        }
        if (cancel) {
            job->cancelAndWait();
            console.print("\n");
            // Ended from outside (a signal, the time-out, a verdict): the
            // log says what became of the transfer.
            if (platform::terminationRequested()) console.print("transfer failed\n");
            console.state = Typing;
            return false;
        }
    }
}
