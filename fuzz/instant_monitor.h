#pragma once

#include <cstdint>
#include <string>

#include "serial/serial_port.h"
#include "sim/monitor.h"

namespace fuzzing {

// A serial line whose far end is the simulated monitor, answering at once
// on the calling thread: a load runs over it with no worker, no pty and no
// waiting. A read that finds nothing to deliver is a silent line.
class InstantMonitor final : public SerialPort {
public:
    bool open(const char*, std::int32_t) override { return true; }
    void close() override {}
    std::int32_t read(void* buffer, std::int32_t count) override;
    std::int32_t write(const void* buffer, std::int32_t count) override;
    void pulseRts() override {}

    sim::Monitor monitor;

private:
    std::string answer_;
    std::size_t delivered_ = 0;
};

}  // namespace fuzzing
