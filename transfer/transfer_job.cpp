#include "transfer/transfer_job.h"

#include <chrono>
#include <system_error>
#include <utility>

#include "platform/background_thread.h"
#include "platform/terminal.h"

TransferJob::~TransferJob() {
    // The commands delete a job only after its worker has ended; joining here
    // keeps a mistake from ending the process instead.
    if (thread_.joinable()) thread_.join();
}

bool TransferJob::startWorker(std::function<bool()> body) {
    byteCount_ = 0;
    pausesAtStart_ = platform::longPauses();
    // The main thread's wait notes from now on that the process runs.
    platform::noteRunning();
    lastAsked_ = std::chrono::steady_clock::now();
    stopSeen_ = false;
    std::packaged_task<bool()> task(std::move(body));
    outcome_ = task.get_future();
    try {
        thread_ = platform::startBackgroundThread(std::move(task));
    } catch (const std::system_error&) {
        outcome_ = {};
        return false;
    }
    return true;
}

bool TransferJob::startSend() {
    return startWorker([this] { return send(); });
}

void TransferJob::collectWorker() {
    if (thread_.joinable()) thread_.join();
    if (outcome_.valid()) workerResult_ = outcome_.get();
}

bool TransferJob::waitFinished(std::uint32_t milliseconds) {
    if (outcome_.valid() &&
        outcome_.wait_for(std::chrono::milliseconds(milliseconds)) != std::future_status::ready) {
        return false;
    }
    collectWorker();
    return true;
}

bool TransferJob::workerSucceeded() { return workerResult_; }

void TransferJob::cancelAndWait() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        cancelRequested_ = true;
    }
    if (outcome_.valid()) outcome_.wait();
    collectWorker();
}

bool TransferJob::isCancelled() {
    // After a long stop of the process the monitor may have left the
    // exchange, and the next block would reach it as commands: the worker
    // gives up instead, as after ESC, and the transfer fails. The stop is
    // counted by the SIGCONT handler, which may run on the main thread only
    // after this one has woken with a reply already waiting; so a second in
    // which neither this thread asked nor the main thread ran is a stop too.
    const auto now = std::chrono::steady_clock::now();
    if (lastAsked_ == std::chrono::steady_clock::time_point{}) lastAsked_ = now;
    const bool heldLong = now - lastAsked_ > std::chrono::seconds(1) && platform::longStopUncounted();
    lastAsked_ = now;
    if (heldLong || platform::longPauses() != pausesAtStart_) stopSeen_ = true;
    if (stopSeen_) return true;
    std::lock_guard<std::mutex> guard(lock_);
    return cancelRequested_;
}

std::uint32_t TransferJob::bytesDone() {
    std::lock_guard<std::mutex> guard(lock_);
    return byteCount_;
}

void TransferJob::addBytes(std::uint32_t count) {
    std::lock_guard<std::mutex> guard(lock_);
    byteCount_ += count;
}
