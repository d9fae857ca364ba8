#include "transfer/foreground_wait.h"

#include "console/console.h"
#include "platform/keyboard.h"
#include "platform/terminal.h"
#include "transfer/block_codec.h"

namespace {

constexpr std::uint32_t FinishPollMs = 10;
// One poll cycle; the keyboard is looked at once per cycle. The wait ends
// early when the worker does, so the end of a transfer is not held back.
constexpr std::uint32_t PollCycleMs = 200;

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
        job->waitFinished(PollCycleMs);
        bool cancel = platform::terminationRequested();
        // Nothing typed reaches the target during a transfer; only ESC counts.
        while (!cancel && console.keyboard().keyWaiting()) {
            cancel = console.keyboard().readKey() == keys::Escape;
        }
        if (cancel) {
            job->cancelAndWait();
            console.print("\n");
            console.state = Typing;
            return false;
        }
    }
}
