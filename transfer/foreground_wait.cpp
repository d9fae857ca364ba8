// The main thread's side of a running transfer: progress stars, ESC to
// cancel, and the tidying up once the worker has ended.
#include "console/console.h"
#include "platform/keyboard.h"
#include "platform/terminal.h"
#include "transfer/block_codec.h"
#include "transfer/transfer_job.h"

namespace {

constexpr std::uint32_t FinishPollMs = 10;
// One poll cycle; the keyboard is looked at once per cycle. The wait ends
// early when the worker does, so the end of a transfer is not held back.
constexpr std::uint32_t PollCycleMs = 200;

}  // namespace

bool Console::waitForJob(TransferJob* job) {
    if (job->waitFinished(FinishPollMs)) {
        print("\n");
        // The worker prints nothing; its outcome is told here, once it ended.
        if (!job->workerSucceeded()) print("transfer failed\n");
        sendChar(keys::Enter);
        return true;
    }
    const auto blocksDone = static_cast<std::int32_t>(job->bytesDone() / BlockSize);
    for (; starsShown < blocksDone; ++starsShown) print("*");
    return false;
}

bool Console::foregroundWait(TransferJob* job) {
    state = Transferring;
    for (;;) {
        if (waitForJob(job)) {
            state = Typing;
            const bool succeeded = job->workerSucceeded();
            job->close();
            delete job;
            return succeeded;
        }
        job->waitFinished(PollCycleMs);
        bool cancel = platform::terminationRequested();
        // Nothing typed reaches the target during a transfer; only ESC counts.
        while (!cancel && keyboard.keyWaiting()) {
            cancel = keyboard.readKey() == keys::Escape;
        }
        if (cancel) {
            job->cancelAndWait();
            print("\n");
            job->close();
            state = Typing;
            delete job;
            return false;
        }
    }
}
