#include <gtest/gtest.h>

#include "sim/sparse_memory.h"

using sim::SparseMemory;

TEST(SparseMemory, UnwrittenBytesReadZeroWithoutTakingRoom) {
    SparseMemory memory;
    std::uint8_t out[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    memory.read(0x12345678, out, sizeof out);
    for (auto b : out) EXPECT_EQ(b, 0);
    EXPECT_EQ(memory.pagesInUse(), 0u);
}

TEST(SparseMemory, WritesAcrossPagesAndAroundTheTop) {
    SparseMemory memory;
    std::uint8_t data[10];
    for (int i = 0; i < 10; ++i) data[i] = std::uint8_t(i + 1);
    memory.write(0xfffffffb, data, 10);  // five bytes at the top, five at 0
    std::uint8_t out[10] = {};
    memory.read(0xfffffffb, out, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], data[i]);
    EXPECT_EQ(memory.readWord(0), 0x09080706u);
    EXPECT_EQ(memory.pagesInUse(), 2u);

    memory.write(SparseMemory::pageSize - 2, data, 4);
    EXPECT_EQ(memory.readWord(SparseMemory::pageSize - 2), 0x04030201u);
}
