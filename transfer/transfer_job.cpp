#include "transfer/transfer_job.h"

#include <chrono>
#include <system_error>
#include <utility>

TransferJob::~TransferJob() {
    // The commands delete a job only after its worker has ended; joining here
    // keeps a mistake from ending the process instead.
    if (thread.joinable()) thread.join();
}

bool TransferJob::startWorker(std::function<bool()> body) {
    byteCount = 0;
    std::packaged_task<bool()> task(std::move(body));
    outcome = task.get_future();
    try {
        thread = std::thread(std::move(task));
    } catch (const std::system_error&) {
        outcome = {};
        return false;
    }
    return true;
}

bool TransferJob::startSend() {
    return startWorker([this] { return send(); });
}

void TransferJob::collectWorker() {
    if (thread.joinable()) thread.join();
    if (outcome.valid()) workerResult = outcome.get();
}

bool TransferJob::waitFinished(std::uint32_t milliseconds) {
    if (outcome.valid() &&
        outcome.wait_for(std::chrono::milliseconds(milliseconds)) != std::future_status::ready) {
        return false;
    }
    collectWorker();
    return true;
}

bool TransferJob::workerSucceeded() { return workerResult; }

void TransferJob::cancelAndWait() {
    {
        std::lock_guard<std::mutex> guard(lock);
        cancelRequested = true;
    }
    if (outcome.valid()) outcome.wait();
    collectWorker();
}

bool TransferJob::isCancelled() {
    std::lock_guard<std::mutex> guard(lock);
    return cancelRequested;
}

std::uint32_t TransferJob::bytesDone() {
    std::lock_guard<std::mutex> guard(lock);
    return byteCount;
}

void TransferJob::addBytes(std::uint32_t count) {
    std::lock_guard<std::mutex> guard(lock);
    byteCount += count;
}
