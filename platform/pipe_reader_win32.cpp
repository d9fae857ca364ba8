#include "platform/pipe_reader_win32.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

namespace {

constexpr DWORD BytesPerRead = 256;
// Keys read ahead and not taken yet; past this the thread waits, so that a
// flood on the pipe holds no more memory than this.
constexpr std::size_t MostQueued = 64 * 1024;

}  // namespace

struct PipeReader::Shared {
    HANDLE input = nullptr;
    std::mutex lock;
    std::condition_variable room;
    std::deque<unsigned char> bytes;
    bool inputEnded = false;
    bool stopping = false;
};

PipeReader::PipeReader(std::intptr_t input) : shared_(std::make_shared<Shared>()) {
    shared_->input = reinterpret_cast<HANDLE>(input);
    const auto run = [shared = shared_] {
        unsigned char chunk[BytesPerRead];
        for (;;) {
            DWORD got = 0;
            const bool read = ReadFile(shared->input, chunk, BytesPerRead, &got, nullptr) != 0;
            std::unique_lock<std::mutex> held(shared->lock);
            if (!read || got == 0) {
                shared->inputEnded = true;  // the writer has closed its end
                return;
            }
            shared->bytes.insert(shared->bytes.end(), chunk, chunk + got);
            shared->room.wait(held, [&] { return shared->stopping || shared->bytes.size() < MostQueued; });
            if (shared->stopping) return;
        }
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        shared_->inputEnded = true;  // no thread: no keys either
    }
}

PipeReader::~PipeReader() {
    const std::lock_guard<std::mutex> held(shared_->lock);
    shared_->stopping = true;
    shared_->room.notify_all();
}

bool PipeReader::take(std::deque<int>& codes) {
    const std::lock_guard<std::mutex> held(shared_->lock);
    if (shared_->bytes.empty()) return false;
    codes.insert(codes.end(), shared_->bytes.begin(), shared_->bytes.end());
    shared_->bytes.clear();
    shared_->room.notify_all();
    return true;
}

bool PipeReader::ended() const {
    const std::lock_guard<std::mutex> held(shared_->lock);
    return shared_->inputEnded && shared_->bytes.empty();
}

}  // namespace platform
