#pragma once

#include <cstddef>

namespace fuzzing {

// Notes the heap allocations made while it lives (all threads), through the
// sanitizer allocator's hooks: the largest single one and their count.
class AllocationWatch {
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;

    std::size_t largest() const;
    std::size_t count() const;
};

}  // namespace fuzzing
