#pragma once

#include <cstddef>

namespace fuzzing {

// Notes the heap allocations the watching thread makes while it lives,
// through the sanitizer allocator's hooks: the largest single one and their
// count. Other threads (libFuzzer's own memory monitor reads /proc now and
// then) are not counted.
class AllocationWatch {
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;

    std::size_t largest() const;
    std::size_t count() const;
};

// A job's openFile under the watch: whether it opened, and what it allocated.
struct WatchedOpen {
    bool opened = false;
    std::size_t largest = 0;
    std::size_t allocations = 0;
};

template <typename Job>
WatchedOpen openWatched(Job& job, const char* path) {
    WatchedOpen result;
    AllocationWatch watch;
    result.opened = job.openFile(path);
    result.largest = watch.largest();
    result.allocations = watch.count();
    return result;
}

}  // namespace fuzzing
