#include "console/watched_port.h"

#include <algorithm>
#include <cstring>

#include "console/output_verdicts.h"

WatchedPort::WatchedPort(std::unique_ptr<SerialPort> port, OutputVerdicts& verdicts)
    : port_(std::move(port)), verdicts_(verdicts) {}

bool WatchedPort::open(const char* portName, std::int32_t baudRate) {
    const bool opened = port_->openUnless(portName, baudRate, openGiveUp);
    portLost.store(port_->lost());
    failure = port_->openFailure();
    return opened;
}

void WatchedPort::close() {
    port_->close();
    held_.clear();
    heldFrom_ = 0;
}

void WatchedPort::noteLost() {
    if (port_->lost()) reportLost();
}

std::int32_t WatchedPort::takeHeld(void* buffer, std::int32_t count) {
    const std::size_t taken = std::min(held_.size() - heldFrom_, static_cast<std::size_t>(count));
    std::memcpy(buffer, held_.data() + heldFrom_, taken);
    heldFrom_ += taken;
    if (heldFrom_ == held_.size()) {
        held_.clear();
        heldFrom_ = 0;
    }
    return static_cast<std::int32_t>(taken);
}

std::int32_t WatchedPort::watched(void* buffer, std::int32_t count) {
    if (count > 0) verdicts_.take(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    noteLost();
    return count;
}

std::int32_t WatchedPort::read(void* buffer, std::int32_t count) {
    if (heldFrom_ < held_.size() && count > 0) return takeHeld(buffer, count);
    return watched(buffer, port_->read(buffer, count));
}

std::int32_t WatchedPort::readWaiting(void* buffer, std::int32_t count) {
    if (heldFrom_ < held_.size() && count > 0) return takeHeld(buffer, count);
    return watched(buffer, port_->readWaiting(buffer, count));
}

std::int32_t WatchedPort::write(const void* buffer, std::int32_t count) {
    const std::int32_t written = port_->write(buffer, count);
    noteLost();
    return written;
}

void WatchedPort::pulseRts() { port_->pulseRts(); }

std::intptr_t WatchedPort::waitHandle() const { return port_->waitHandle(); }

void WatchedPort::holdWaiting() {
    char bytes[256];
    // A port without a wait handle has no read that does not wait.
    while (port_->waitHandle() >= 0 && held_.size() < MostHeld && !port_->lost()) {
        const std::int32_t count = port_->readWaiting(bytes, sizeof bytes);
        if (count <= 0) break;
        verdicts_.take(bytes, static_cast<std::size_t>(count));
        held_.append(bytes, static_cast<std::size_t>(count));
    }
    noteLost();
}
