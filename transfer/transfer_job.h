#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "transfer/host_file.h"
#include "transfer/rts_pulses.h"

class SerialPort;

// A movement of a memory image between a host file and the target, run on a
// worker thread. The main thread only cancels it and reads its progress,
// both under the job's one lock.
class TransferJob : public HostFile {
public:
    TransferJob() = default;
    // Waits for a worker that is still running; the commands never leave one.
    ~TransferJob() override;

    // Opens the host file (and reads its header where the format has one).
    virtual bool openFile(const char* path) = 0;
    // Worker body, host to target.
    virtual bool send() = 0;

    bool startSend();
    void cancelAndWait();
    bool isCancelled();
    std::uint32_t bytesDone();
    // True once the worker has ended; waits up to the given time for that.
    bool waitFinished(std::uint32_t milliseconds);
    // What the worker's body returned; meaningful once waitFinished is true.
    bool workerSucceeded();

    // The monitor link protocol, used by the worker bodies.
    std::int32_t sendWord(SerialPort* port, std::uint32_t value);
    bool waitForText(SerialPort* port, const char* text);
    bool sendEchoed(SerialPort* port, const char* text);
    bool beginBinaryWrite(SerialPort* port);
    bool endBinaryWrite(SerialPort* port);
    bool beginBinaryRead(SerialPort* port);
    bool endBinaryRead(SerialPort* port);
    bool streamToTarget(SerialPort* port, std::uint32_t address, std::uint32_t length);
    // One whole write exchange: length bytes of the host file from
    // fileOffset on, to target memory at address.
    bool sendExchange(SerialPort* port, std::uint64_t fileOffset, std::uint32_t address,
                      std::uint32_t length);
    bool streamFromTarget(SerialPort* port, std::uint32_t address, std::uint32_t length);

    // How streamFromTarget pulses RTS after each byte it reads.
    PulseMode pulseMode = PulseMode::Overlapped;

protected:
    // Starts a worker thread on body; false when no thread could be made.
    bool startWorker(std::function<bool()> body);
    void addBytes(std::uint32_t count);

private:
    bool sendHeader(SerialPort* port, std::uint32_t address, std::uint32_t length);
    // Joins a worker that has ended and keeps what its body returned.
    void collectWorker();

    std::thread thread_;
    std::future<bool> outcome_;
    bool workerResult_ = false;
    std::mutex lock_;
    bool cancelRequested_ = false;
    // The process's long stops when the worker started, when the worker
    // last asked, and whether it has seen one since (see isCancelled).
    int pausesAtStart_ = 0;
    std::chrono::steady_clock::time_point lastAsked_;
    bool stopSeen_ = false;
    std::uint32_t byteCount_ = 0;
};
