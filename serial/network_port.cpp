#include "serial/network_port.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/terminal.h"
#include "serial/line_timeouts.h"

namespace {

namespace telnet = serial::telnet;
using Clock = platform::MonotonicClock;

// The line's time-outs, as on a local port.
constexpr std::int64_t ReadIntervalMs = serial::lineTimeouts.read.interval.count();
constexpr std::int64_t ReadMultiplierMs = serial::lineTimeouts.read.perByte.count();
constexpr std::int64_t ReadConstantMs = serial::lineTimeouts.read.constant.count();
constexpr std::int64_t WriteMultiplierMs = serial::lineTimeouts.write.perByte.count();
constexpr std::int64_t WriteConstantMs = serial::lineTimeouts.write.constant.count();

// A server that does not answer at all is given up on after these.
constexpr std::int64_t ConnectMs = 5000;
constexpr std::int64_t NegotiationMs = 3000;
// A raw server that cannot open its device closes the connection at once;
// this long after connecting it is taken as open.
constexpr std::int64_t SettleMs = 200;
constexpr std::int64_t ControlSendMs = 250;

constexpr std::size_t ReceiveChunk = 4096;
// Data that came before the port was opened, or queued control messages,
// beyond which the oldest is dropped or the queue sent.
constexpr std::size_t MaxPending = 65536;
constexpr std::size_t ControlFlushBytes = 4096;

std::int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

std::int64_t nowMs() { return serial::networkNowMs(); }

void sleepUntilUs(std::int64_t whenUs) {
    std::this_thread::sleep_until(Clock::time_point(std::chrono::microseconds(whenUs)));
}

OpenFailure connectFailure(serial::SocketStream::Failure failure) {
    using Failure = serial::SocketStream::Failure;
    switch (failure) {
    case Failure::NoSuchHost: return OpenFailure::NoSuchHost;
    case Failure::Refused: return OpenFailure::Refused;
    case Failure::NoAnswer: return OpenFailure::NoAnswer;
    case Failure::Unreachable: return OpenFailure::Unreachable;
    case Failure::None: break;
    }
    return OpenFailure::Unknown;
}

}  // namespace

bool NetworkPort::open(const char* portName, std::int32_t baudRate) {
    close();
    failure = OpenFailure::Unknown;
    const auto address = serial::parseNetworkAddress(portName);
    if (!address || baudRate <= 0) {
        return false;
    }
    decoder_ = {};
    pending_.clear();
    pendingAt_ = 0;
    control_.clear();
    lost_ = comPortAgreed_ = comPortRefused_ = baudAcknowledged_ = false;
    portLost.store(false);
    protocol_ = address->protocol;
    if (!socket_.connect(address->host, address->port, ConnectMs, openGiveUp)) {
        failure = connectFailure(socket_.connectFailure());
        return false;
    }
    const bool ready =
        protocol_ == serial::NetworkProtocol::Rfc2217 ? negotiate(baudRate) : settle();
    if (!ready) {
        failure = lost_             ? OpenFailure::ClosedByServer
                  : comPortRefused_ ? OpenFailure::PortControlRefused
                                    : OpenFailure::PortControlSilent;
        socket_.close();
        return false;
    }
    SerialPort::handle = socket_.descriptor();
    lineRate = baudRate;
    lineFreeAtUs_ = 0;
    return true;
}

// Binary both ways and the COM port option agreed, then the line set as a
// local port sets it: the rate, 8N1, hardware flow control, DTR low, RTS
// high. The server's answer to the rate shows it took the settings.
bool NetworkPort::negotiate(std::int32_t baudRate) {
    const std::int64_t deadline = nowMs() + NegotiationMs;
    control_ = telnet::openingRequests();
    if (!pumpUntil(deadline, [this] { return comPortAgreed_ || comPortRefused_; }) ||
        comPortRefused_) {
        return false;
    }
    control_ += telnet::setBaudRateCommand(static_cast<std::uint32_t>(baudRate)) +
                telnet::comPortCommand(telnet::SetDataSize, {8}) +
                telnet::comPortCommand(telnet::SetParity, {telnet::ParityNone}) +
                telnet::comPortCommand(telnet::SetStopSize, {telnet::StopBitsOne}) +
                telnet::comPortCommand(telnet::SetControl, {telnet::ControlHardwareFlow}) +
                telnet::comPortCommand(telnet::SetControl, {telnet::ControlDtrOff}) +
                telnet::comPortCommand(telnet::SetControl, {telnet::ControlRtsOn});
    return pumpUntil(deadline, [this] { return baudAcknowledged_; });
}

bool NetworkPort::settle() {
    pumpUntil(nowMs() + SettleMs, [this] { return pending_.size() >= ReceiveChunk; });
    return !lost_;
}

bool NetworkPort::pumpUntil(std::int64_t deadlineMs, const std::function<bool()>& done) {
    while (!done()) {
        flushControl();
        const std::int64_t left = deadlineMs - nowMs();
        if (lost_ || left <= 0 || platform::terminationRequested() || (openGiveUp && openGiveUp())) {
            return false;
        }
        const auto wait =
            socket_.waitReadable(openGiveUp ? std::min(left, serial::GiveUpLookMs) : left);
        if (wait == serial::SocketStream::Wait::Failed) {
            connectionLost();
        } else if (wait == serial::SocketStream::Wait::Ready) {
            receiveSome();
        }
    }
    return true;
}

void NetworkPort::connectionLost() {
    // A dropped connection is a device that went away: the console waits
    // for the server to come back as it waits for an adapter.
    lost_ = true;
    reportLost();
}

void NetworkPort::receiveSome() {
    std::uint8_t raw[ReceiveChunk];
    const std::int64_t got = socket_.receive(raw, sizeof raw);
    if (got < 0) {
        connectionLost();
        return;
    }
    if (pendingAt_ == pending_.size()) {
        pending_.clear();
        pendingAt_ = 0;
    }
    std::vector<telnet::Event> events;
    if (protocol_ == serial::NetworkProtocol::Rfc2217) {
        decoder_.feed(raw, static_cast<std::size_t>(got), pending_, events);
    } else {
        pending_.append(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(got));
    }
    if (pending_.size() - pendingAt_ > MaxPending) {
        // Only before the port is open is nobody reading: keep the newest.
        pending_.erase(0, pending_.size() - MaxPending);
        pendingAt_ = 0;
    }
    for (const telnet::Event& event : events) {
        onEvent(event);
    }
}

void NetworkPort::onEvent(const telnet::Event& event) {
    using Kind = telnet::Event::Kind;
    control_ += telnet::answerTo(event);
    if (event.option != telnet::OptionComPort) {
        return;
    }
    if (event.kind == Kind::ServerDo) {
        comPortAgreed_ = true;
    } else if (event.kind == Kind::ServerDont) {
        comPortRefused_ = true;
    } else if (event.kind == Kind::Subnegotiation && !event.payload.empty() &&
               event.payload.front() == telnet::SetBaudRate + telnet::ServerOffset) {
        baudAcknowledged_ = true;
    }
}

std::size_t NetworkPort::sendAll(const std::string& bytes, std::int64_t deadlineMs) {
    std::size_t sent = 0;
    while (sent < bytes.size() && !lost_) {
        const std::int64_t took = socket_.send(bytes.data() + sent, bytes.size() - sent);
        if (took < 0) {
            connectionLost();
        } else if (took > 0) {
            sent += static_cast<std::size_t>(took);
        } else {
            // The socket's buffer is full: the server or the line is slow.
            const std::int64_t left = deadlineMs - nowMs();
            if (left <= 0 || socket_.waitWritable(left) == serial::SocketStream::Wait::Failed) {
                break;
            }
        }
    }
    return sent;
}

void NetworkPort::flushControl() {
    if (!control_.empty() && !lost_) {
        sendAll(control_, nowMs() + ControlSendMs);
    }
    // What did not go in time is dropped: a server that takes no commands
    // must not make them pile up.
    control_.clear();
}

void NetworkPort::close() {
    socket_.close();
    SerialPort::handle = -1;
    lost_ = true;
}

std::intptr_t NetworkPort::waitHandle() const { return socket_.waitHandle(); }

std::int32_t NetworkPort::readWaiting(void* buffer, std::int32_t count) {
    if (count <= 0) {
        return 0;
    }
    flushControl();
    // What the socket holds goes through the telnet decoder first: the
    // console must never see the server's commands or a doubled 0xFF.
    if (pendingAt_ == pending_.size() && !lost_ &&
        socket_.waitReadable(0) == serial::SocketStream::Wait::Ready) {
        receiveSome();
    }
    const std::size_t take =
        std::min(pending_.size() - pendingAt_, static_cast<std::size_t>(count));
    if (take == 0) {
        return lost_ ? -1 : 0;
    }
    pending_.copy(static_cast<char*>(buffer), take, pendingAt_);
    pendingAt_ += take;
    return static_cast<std::int32_t>(take);
}

std::int32_t NetworkPort::read(void* buffer, std::int32_t count) {
    if (count <= 0) {
        return 0;
    }
    auto* bytes = static_cast<char*>(buffer);
    // The total time-out runs from the start and is not renewed by bytes.
    const std::int64_t deadline = nowMs() + ReadMultiplierMs * count + ReadConstantMs;
    std::int32_t got = 0;
    std::int64_t lastByteAt = 0;
    for (;;) {
        const std::size_t take =
            std::min(pending_.size() - pendingAt_, static_cast<std::size_t>(count - got));
        if (take > 0) {
            pending_.copy(bytes + got, take, pendingAt_);
            pendingAt_ += take;
            got += static_cast<std::int32_t>(take);
            lastByteAt = nowMs();
        }
        const std::int64_t until =
            got == 0 ? deadline : std::min(deadline, lastByteAt + ReadIntervalMs);
        if (got == count || nowMs() >= until) {
            return got;
        }
        flushControl();
        if (lost_) {
            // A connection that has gone is waited out like a silent line,
            // as a local device that went away, so no caller spins.
            sleepUntilUs(until * 1000);
            return got;
        }
        const auto wait = socket_.waitReadable(until - nowMs());
        if (wait == serial::SocketStream::Wait::Failed) {
            connectionLost();
        } else if (wait == serial::SocketStream::Wait::Ready) {
            receiveSome();
        }
    }
}

namespace {

// How many bytes of data the first `sent` bytes of their escaped form hold.
// A cut between the two halves of a doubled 0xFF counts the byte as sent,
// and owesIac tells that its second half must still go, or the server would
// take it and the next byte for a command.
std::int32_t dataBytesSent(const std::uint8_t* data, std::int32_t count, std::size_t sent,
                           bool& owesIac) {
    std::size_t encoded = 0;
    owesIac = false;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t size = data[i] == telnet::Iac ? 2 : 1;
        encoded += size;
        if (encoded > sent) {
            owesIac = size == 2 && encoded - 1 == sent;
            return owesIac ? i + 1 : i;
        }
    }
    return count;
}

}  // namespace

std::int32_t NetworkPort::write(const void* buffer, std::int32_t count) {
    if (count <= 0 || lost_) {
        return 0;
    }
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    const std::int64_t deadline = nowMs() + WriteMultiplierMs * count + WriteConstantMs;
    flushControl();
    std::string out;
    if (protocol_ == serial::NetworkProtocol::Rfc2217) {
        telnet::escapeData(data, static_cast<std::size_t>(count), out);
    } else {
        out.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
    }
    const std::size_t sent = sendAll(out, deadline);
    std::int32_t written = static_cast<std::int32_t>(sent);
    if (protocol_ == serial::NetworkProtocol::Rfc2217) {
        bool owesIac = false;
        written = dataBytesSent(data, count, sent, owesIac);
        if (owesIac) {
            control_.assign(1, static_cast<char>(telnet::Iac));  // first out next time
        }
    }
    waitLineTime(written, deadline);
    return written;
}

// The target's reply time-outs run from the end of a write, as they do
// where the write waits for the UART. The far UART's queue cannot be seen
// from here, so the write lasts as long as its bytes take on the far line
// at 10 bits a byte, counted on from the end of any earlier write still
// crossing it.
void NetworkPort::waitLineTime(std::int32_t written, std::int64_t deadlineMs) {
    const std::int64_t now = nowUs();
    const std::int64_t lineUs =
        static_cast<std::int64_t>(written) * 10'000'000 / std::max<std::int32_t>(lineRate, 1);
    lineFreeAtUs_ = std::max(lineFreeAtUs_, now) + lineUs;
    sleepUntilUs(std::min(lineFreeAtUs_, deadlineMs * 1000));
}

void NetworkPort::pulseRts() {
    if (protocol_ != serial::NetworkProtocol::Rfc2217 || lost_) {
        return;
    }
    control_ += telnet::comPortCommand(telnet::SetControl, {telnet::ControlRtsOff}) +
                telnet::comPortCommand(telnet::SetControl, {telnet::ControlRtsOn});
    if (control_.size() >= ControlFlushBytes) {
        flushControl();
    }
}
