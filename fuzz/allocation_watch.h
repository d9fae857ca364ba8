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

}  // namespace fuzzing
