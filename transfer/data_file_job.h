#pragma once

#include <cstdint>

#include "transfer/transfer_job.h"

// Largest file dload takes.
inline constexpr std::uint64_t MaxDataFileSize = 0x200000;

// Raw bytes between a host file and target memory (dload, dsave).
class DataFileJob final : public TransferJob {
public:
    bool openFile(const char* path) override;
    bool openForWrite(const char* path);
    bool sendFile(SerialPort* port, std::uint32_t address);
    bool receiveFile(SerialPort* port, std::uint32_t address, std::uint32_t length);
    bool startReceive();

    bool send() override;
    virtual bool receive();

    std::uint32_t address = 0;
    std::uint32_t length = 0;
    SerialPort* port = nullptr;
};
