#include "fuzz/allocation_watch.h"

#include <sanitizer/allocator_interface.h>

#include <atomic>

#include "fuzz/require.h"

namespace fuzzing {

namespace {

std::atomic<bool> watching{false};
// Set on the watching thread only, so other threads never count.
thread_local bool watchedThread = false;
std::atomic<std::size_t> largestSeen{0};
std::atomic<std::size_t> allocations{0};

void onAllocation(const volatile void*, std::size_t size) {
    if (!watchedThread || !watching.load(std::memory_order_relaxed)) {
        return;
    }
    allocations.fetch_add(1, std::memory_order_relaxed);
    std::size_t seen = largestSeen.load(std::memory_order_relaxed);
    while (size > seen && !largestSeen.compare_exchange_weak(seen, size)) {
    }
}

void onRelease(const volatile void*) {}

void installHooks() {
    static const bool installed =
        __sanitizer_install_malloc_and_free_hooks(onAllocation, onRelease) != 0;
    require(installed, "the allocator hooks are installed");
}

}  // namespace

AllocationWatch::AllocationWatch() {
    installHooks();
    require(!watching.load(), "one allocation watch at a time");
    largestSeen = 0;
    allocations = 0;
    watchedThread = true;
    watching = true;
}

AllocationWatch::~AllocationWatch() {
    watching = false;
    watchedThread = false;
}

std::size_t AllocationWatch::largest() const { return largestSeen.load(); }

std::size_t AllocationWatch::count() const { return allocations.load(); }

}  // namespace fuzzing
