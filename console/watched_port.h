#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/serial_port.h"

class OutputVerdicts;

// A port whose every byte read, by the console or by a transfer, is handed
// to the run's verdicts as well. While the console is busy elsewhere (a
// sleep or a shell command of a script), holdWaiting() takes what the target
// sends meanwhile, so that a failing line is seen at once; the bytes held are
// read afterwards as if they had only just come.
class WatchedPort final : public SerialPort {
public:
    WatchedPort(std::unique_ptr<SerialPort> port, OutputVerdicts& verdicts);

    bool open(const char* portName, std::int32_t baudRate) override;
    void close() override;
    std::int32_t read(void* buffer, std::int32_t count) override;
    std::int32_t write(const void* buffer, std::int32_t count) override;
    void pulseRts() override;
    std::intptr_t waitHandle() const override;
    std::int32_t readWaiting(void* buffer, std::int32_t count) override;

    void holdWaiting();
    // What holdWaiting keeps at most; past it the line's own buffers wait.
    static constexpr std::size_t MostHeld = 1 << 20;

private:
    std::int32_t takeHeld(void* buffer, std::int32_t count);
    std::int32_t watched(void* buffer, std::int32_t count);
    void noteLost();

    std::unique_ptr<SerialPort> port_;
    OutputVerdicts& verdicts_;
    std::string held_;
    std::size_t heldFrom_ = 0;
};
