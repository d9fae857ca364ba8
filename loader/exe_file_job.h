#pragma once

#include <cstdint>

#include "loader/executable_job.h"

// The EXE layout: a 2048-byte header, then the program data.
inline constexpr std::uint32_t ExeHeaderReadSize = 136;
inline constexpr std::uint32_t ExeDataOffset = 2048;

// Loads an EXE: its data in one write exchange, then the start registers.
class ExeFileJob final : public ExecutableJob {
public:
    bool openFile(const char* path) override;
    bool send() override;

    std::uint32_t loadAddress = 0;
    std::uint32_t loadSize = 0;
};
