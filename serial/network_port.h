#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/port_address.h"
#include "serial/serial_port.h"
#include "serial/socket_stream.h"
#include "serial/telnet_codec.h"

// A serial line served over the network (see port_address.h), with the
// read and write time-outs of a local port. The byte stream it reads and
// writes is the target's alone: telnet commands are stripped and 0xFF is
// escaped on the way.
class NetworkPort : public SerialPort {
public:
    bool open(const char* portName, std::int32_t baudRate) override;
    void close() override;
    std::int32_t read(void* buffer, std::int32_t count) override;
    // The target's bytes already received, telnet commands taken out.
    std::int32_t readWaiting(void* buffer, std::int32_t count) override;
    // The socket's: set when bytes or the connection's end arrive.
    std::intptr_t waitHandle() const override;
    std::int32_t write(const void* buffer, std::int32_t count) override;
    // RTS low and high again as two control messages; they go out with the
    // next wait for bytes or the next write, in order with the data.
    void pulseRts() override;
    // The pulse's messages go out on the thread that reads and writes.
    bool pulseIsLineControl() const override { return false; }

private:
    bool negotiate(std::int32_t baudRate);
    bool settle();
    // Receives what has come (once), keeps the data, answers the server.
    void receiveSome();
    void connectionLost();
    void onEvent(const serial::telnet::Event& event);
    // Receives until done() holds; false when the connection ends or the
    // deadline passes first.
    bool pumpUntil(std::int64_t deadlineMs, const std::function<bool()>& done);
    // Sends all of bytes unless the deadline passes or the connection ends;
    // returns how many went.
    std::size_t sendAll(const std::string& bytes, std::int64_t deadlineMs);
    void flushControl();
    // Holds a write until what it sent can have crossed the far line.
    void waitLineTime(std::int32_t written, std::int64_t deadlineMs);

    serial::SocketStream socket_;
    serial::NetworkProtocol protocol_ = serial::NetworkProtocol::RawTcp;
    serial::telnet::Decoder decoder_;
    std::string pending_;  // the target's bytes received and not yet read
    std::size_t pendingAt_ = 0;
    std::string control_;  // commands to the server not yet sent
    bool lost_ = false;
    bool comPortAgreed_ = false;
    bool comPortRefused_ = false;
    bool baudAcknowledged_ = false;
    std::int64_t lineFreeAtUs_ = 0;
};
