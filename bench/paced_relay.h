#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "sim/line_pacer.h"

namespace bench {

// A pseudo-terminal with both ends raw, the master non-blocking, neither
// inherited across exec; false when none could be had.
bool openRawPty(int& master, int& slave);

// Two pseudo-terminals joined as the two ends of a serial line: what a
// program writes to end A's slave reaches end B's slave at baud / 10 bytes
// per second (8N1), and the other way round, paced as the simulated target
// paces its own line. Lets any two programs talk over a line equal to the
// one the console has with the simulator.
class PacedRelay {
public:
    explicit PacedRelay(std::int32_t baud);
    ~PacedRelay();
    PacedRelay(const PacedRelay&) = delete;
    PacedRelay& operator=(const PacedRelay&) = delete;

    // Opens both pseudo-terminals (raw) and starts moving bytes.
    bool start();
    void stop();
    // The slaves, for the programs at either end; closed with the relay.
    int slaveA() const { return ends_[0].slave; }
    int slaveB() const { return ends_[1].slave; }
    void closeSlaves();

    // From the first byte A sent to the last byte moved either way, seconds;
    // 0 before any. Read after stop().
    double wireSeconds() const;

private:
    struct Way {
        explicit Way(std::int32_t baud) : pacer(baud) {}
        int from = -1;
        int to = -1;
        sim::LinePacer pacer;
        sim::LinePacer::Clock::time_point lastMove{};
        std::string carry;  // moved off the line but not yet taken by the far end
        bool closed = false;
    };
    struct End {
        int master = -1;
        int slave = -1;
    };

    void serve();
    void move(Way& way, sim::LinePacer::Clock::time_point now, bool readable, bool writable);
    void deliver(Way& way);
    sim::LinePacer::Clock::time_point nextWake(sim::LinePacer::Clock::time_point now) const;

    End ends_[2];
    Way ways_[2];  // A to B, B to A
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    bool started_ = false;
    sim::LinePacer::Clock::time_point first_{};
    sim::LinePacer::Clock::time_point last_{};
};

}  // namespace bench
