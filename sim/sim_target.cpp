#include "sim/sim_target.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>

#include "sim/line_pacer.h"
#include "sim/monitor.h"
#include "sim/transcript_log.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

// A host that stops in the middle of an exchange must not leave the monitor
// taking its next command for data.
constexpr auto silenceLimit = std::chrono::milliseconds(1000);
constexpr std::size_t readChunk = 4096;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void closeWake(std::atomic<int>& fd) {
    const int old = fd.exchange(-1);
    if (old >= 0) ::close(old);
}

bool makeLink(const std::string& target, const std::string& linkPath) {
    struct stat info {};
    if (::lstat(linkPath.c_str(), &info) == 0) {
        // Replace a link left by an earlier run, never a real file.
        if (!S_ISLNK(info.st_mode) || ::unlink(linkPath.c_str()) != 0) return false;
    }
    return ::symlink(target.c_str(), linkPath.c_str()) == 0;
}

void removeLink(const std::string& target, const std::string& linkPath) {
    char buffer[PATH_MAX];
    const ssize_t size = ::readlink(linkPath.c_str(), buffer, sizeof buffer);
    // Only our own link: another run may have taken the name meanwhile.
    if (size > 0 && std::string(buffer, std::size_t(size)) == target) ::unlink(linkPath.c_str());
}

timespec timeUntil(Clock::time_point deadline, Clock::time_point now) {
    const auto wait =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(deadline - now, Clock::duration::zero()));
    return timespec{time_t(wait.count() / 1'000'000'000), long(wait.count() % 1'000'000'000)};
}

}  // namespace

struct SimTarget::Impl {
    explicit Impl(const Options& opts)
        : options(opts), monitor(opts.faults), rx(opts.baud), tx(opts.baud) {}

    void serve();
    void receive(Clock::time_point now, bool readable);
    void send(Clock::time_point now, bool writable);
    Clock::time_point nextDeadline(Clock::time_point now);
    void stopThread();
    void wake() const {
        const char byte = 1;
        const int fd = wakeWrite.load();
        // A full pipe already holds a wake-up.
        if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
        }
    }
    void pauseAfterLineError();

    const Options options;

    // Guards the monitor and the queue of bytes waiting to go out.
    mutable std::mutex mutex;
    Monitor monitor;
    std::string outQueue;

    TranscriptLog log;
    std::string slavePath;
    int masterFd = -1;
    int slaveFd = -1;
    int wakeRead = -1;
    std::atomic<int> wakeWrite{-1};
    std::thread thread;
    std::atomic<bool> stopRequested{false};

    // Used by the serving thread only.
    LinePacer rx;
    LinePacer tx;
    bool txBlocked = false;
    bool lineError = false;
    long received = 0;
    long sent = 0;
    Clock::time_point lastActivity{};
    // Last batch moved in the current burst; none yet at its start.
    Clock::time_point rxLastMove{};
    Clock::time_point txLastMove{};
};

void SimTarget::Impl::serve() {
    // Paced bytes are due every few microseconds at high rates; the default
    // timer slack would make every first byte of a reply late.
    if (rx.paced()) ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
    // A board's UART keeps line time however busy the host is; a starved
    // thread would answer a block after the console's reply time-out. Only
    // a privileged process gets the priority; elsewhere the thread stays.
    const sched_param uartPriority{1};
    if (rx.paced()) ::pthread_setschedparam(::pthread_self(), SCHED_RR, &uartPriority);
    lastActivity = Clock::now();
    while (!stopRequested.load()) {
        pollfd fds[2] = {{wakeRead, POLLIN, 0}, {masterFd, 0, 0}};
        // Paced input is taken by the schedule; only the start of a burst
        // needs the line to say that something is there.
        if (!rx.paced() || rx.idle()) fds[1].events |= POLLIN;
        if (txBlocked) fds[1].events |= POLLOUT;

        const auto before = Clock::now();
        const timespec timeout = timeUntil(nextDeadline(before), before);
        const int ready = ::ppoll(fds, 2, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            char drain[64];
            while (::read(wakeRead, drain, sizeof drain) > 0) {
            }
        }
        const short events = ready > 0 ? fds[1].revents : 0;
        if (events & POLLNVAL) break;
        if ((events & (POLLHUP | POLLERR)) && !(events & POLLIN)) lineError = true;
        const auto now = Clock::now();
        receive(now, (events & POLLIN) != 0);
        send(now, (events & POLLOUT) != 0);
        {
            std::lock_guard lock(mutex);
            if (monitor.inExchange() && now - lastActivity > silenceLimit) monitor.timeOut();
        }
        if (lineError) {
            lineError = false;
            pauseAfterLineError();
        }
    }
}

Clock::time_point SimTarget::Impl::nextDeadline(Clock::time_point now) {
    // Nothing to do: sleep until woken, but look round now and then anyway.
    Clock::time_point deadline = now + std::chrono::milliseconds(500);
    if (rx.paced() && !rx.idle()) {
        int waiting = 0;
        if (::ioctl(masterFd, FIONREAD, &waiting) != 0) waiting = 0;
        deadline = std::min(deadline, rx.nextWake(rxLastMove, std::size_t(std::max(waiting, 0))));
    }

    std::lock_guard lock(mutex);
    if (!outQueue.empty() && !txBlocked) {
        deadline = std::min(deadline, tx.paced() && !tx.idle() ? tx.nextWake(txLastMove, outQueue.size()) : now);
    }
    if (monitor.inExchange()) {
        deadline = std::min(deadline, std::max(now, lastActivity + silenceLimit + std::chrono::milliseconds(1)));
    }
    return deadline;
}

void SimTarget::Impl::pauseAfterLineError() {
    // A line that keeps reporting an error must not make this loop spin.
    pollfd wakeFd{wakeRead, POLLIN, 0};
    const timespec pause{0, 20'000'000};
    ::ppoll(&wakeFd, 1, &pause, nullptr);
}

void SimTarget::Impl::receive(Clock::time_point now, bool readable) {
    std::size_t want = readChunk;
    if (rx.paced()) {
        if (rx.idle()) {
            if (!readable) return;
            rx.begin(now);
            log.noteBurstStart(now);
            rxLastMove = {};
        }
        want = std::min(want, rx.allowance(now));
        if (want == 0) return;
    } else if (!readable) {
        return;
    }

    std::uint8_t bytes[readChunk];
    const ssize_t count = ::read(masterFd, bytes, want);
    if (count <= 0) {
        if (count == 0 || errno != EAGAIN) lineError = true;
        rx.stop();
        return;
    }
    // When the last of these bytes finished arriving on the line; a reply
    // they bring starts from then, not from whenever this thread woke up.
    Clock::time_point arrived = now;
    if (rx.paced()) {
        arrived = std::min(now, rx.dueAfter(std::size_t(count)));
        rxLastMove = now;
        rx.moved(std::size_t(count));
        if (std::size_t(count) < want) rx.stop();
    }
    lastActivity = now;
    log.record(Direction::ToTarget, bytes, std::size_t(count), now);

    std::lock_guard lock(mutex);
    const bool replyStarts = outQueue.empty();
    for (ssize_t i = 0; i < count; ++i) {
        const long limit = options.faults.silentAfterReceivedBytes;
        ++received;
        if (limit >= 0 && received > limit) continue;
        monitor.receive(bytes[i], outQueue);
    }
    if (replyStarts && !outQueue.empty() && tx.paced() && tx.idle() && !txBlocked) {
        tx.begin(arrived);
        txLastMove = {};
    }
}

void SimTarget::Impl::send(Clock::time_point now, bool writable) {
    std::lock_guard lock(mutex);
    if (outQueue.empty()) {
        tx.stop();
        txBlocked = false;
        return;
    }
    if (txBlocked) {
        if (!writable) return;
        // The host has made room again: a new burst begins.
        txBlocked = false;
        tx.stop();
    }
    std::size_t want = outQueue.size();
    if (tx.paced()) {
        if (tx.idle()) {
            tx.begin(now);
            txLastMove = {};
        }
        want = std::min(want, tx.allowance(now));
        if (want == 0) return;
    }
    const long limit = options.faults.silentAfterSentBytes;
    if (limit >= 0) {
        const std::size_t left = sent >= limit ? 0 : std::size_t(limit - sent);
        if (left == 0) {
            outQueue.clear();
            return;
        }
        want = std::min(want, left);
    }

    const ssize_t written = ::write(masterFd, outQueue.data(), want);
    if (written < 0 && errno != EAGAIN) lineError = true;
    const std::size_t count = written > 0 ? std::size_t(written) : 0;
    // The console is not reading and the pty is full: wait until it is not.
    if (count < want) txBlocked = true;
    if (count == 0) return;
    log.record(Direction::FromTarget, reinterpret_cast<const std::uint8_t*>(outQueue.data()), count, now);
    outQueue.erase(0, count);
    if (tx.paced()) {
        txLastMove = now;
        tx.moved(count);
        // The burst ends with its last byte: what is said later starts a new
        // one, and the idle time in between earns no credit.
        if (outQueue.empty()) tx.stop();
    }
    sent += long(count);
    lastActivity = now;
}

void SimTarget::Impl::stopThread() {
    if (!thread.joinable()) return;
    stopRequested = true;
    wake();
    thread.join();
}

SimTarget::SimTarget(Options options) : impl_(std::make_unique<Impl>(options)) {}

SimTarget::~SimTarget() { stop(); }

bool SimTarget::start() {
    Impl& s = *impl_;
    if (s.masterFd >= 0 || s.thread.joinable()) return false;
    // What a closeMaster() left behind.
    // The writing end first: a write to a pipe without a reader raises SIGPIPE.
    {
        std::lock_guard lock(s.mutex);
        closeWake(s.wakeWrite);
    }
    closeFd(s.wakeRead);

    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // Raw from the start, so that no byte is changed or echoed by the pty
    // before the console has set the line up itself.
    termios settings{};
    if (::tcgetattr(slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
    }
    char name[PATH_MAX];
    int wakePipe[2] = {-1, -1};
    if (::ttyname_r(slave, name, sizeof name) != 0 || ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(master);
        ::close(slave);
        return false;
    }
    s.masterFd = master;
    // Held open for the whole run: the master then never sees a hang-up when
    // the console closes the device and opens it again.
    s.slaveFd = slave;
    s.wakeRead = wakePipe[0];
    s.wakeWrite = wakePipe[1];
    s.slavePath = name;
    if (!s.options.linkPath.empty() && !makeLink(s.slavePath, s.options.linkPath)) {
        closeFd(s.masterFd);
        closeFd(s.slaveFd);
        closeWake(s.wakeWrite);
        closeFd(s.wakeRead);
        s.slavePath.clear();
        return false;
    }
    {
        std::lock_guard lock(s.mutex);
        s.monitor.greet(s.outQueue);
    }
    s.stopRequested = false;
    s.txBlocked = false;
    s.rx.stop();
    s.tx.stop();
    s.thread = std::thread([&s] { s.serve(); });
    return true;
}

void SimTarget::stop() {
    Impl& s = *impl_;
    s.stopThread();
    closeFd(s.masterFd);
    closeFd(s.slaveFd);
    // The writing end first: a write to a pipe without a reader raises SIGPIPE.
    {
        std::lock_guard lock(s.mutex);
        closeWake(s.wakeWrite);
    }
    closeFd(s.wakeRead);
    if (!s.options.linkPath.empty() && !s.slavePath.empty()) removeLink(s.slavePath, s.options.linkPath);
}

const std::string& SimTarget::slavePath() const { return impl_->slavePath; }

void SimTarget::closeMaster() {
    Impl& s = *impl_;
    s.stopThread();
    closeFd(s.masterFd);
    closeFd(s.slaveFd);
}

std::uint32_t SimTarget::reg(const std::string& name) const {
    const auto index = RegisterFile::indexOf(name);
    if (!index) return 0;
    std::lock_guard lock(impl_->mutex);
    return impl_->monitor.registers().get(*index);
}

void SimTarget::setReg(const std::string& name, std::uint32_t value) {
    const auto index = RegisterFile::indexOf(name);
    if (!index) return;
    std::lock_guard lock(impl_->mutex);
    impl_->monitor.registers().set(*index, value);
}

std::vector<std::uint8_t> SimTarget::readMemory(std::uint32_t address, std::uint32_t length) const {
    std::vector<std::uint8_t> bytes(length);
    std::lock_guard lock(impl_->mutex);
    impl_->monitor.memory().read(address, bytes.data(), length);
    return bytes;
}

void SimTarget::writeMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(impl_->mutex);
    impl_->monitor.memory().write(address, bytes.data(), std::uint32_t(bytes.size()));
}

std::vector<TranscriptEntry> SimTarget::transcript() const { return impl_->log.entries(); }

std::vector<BurstStart> SimTarget::burstStarts() const { return impl_->log.burstStarts(); }

std::vector<std::uint8_t> SimTarget::bytes(Direction direction) const { return impl_->log.bytes(direction); }

void SimTarget::clearTranscript() { impl_->log.clear(); }

int SimTarget::exchangesCompleted() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->monitor.exchangesCompleted();
}

int SimTarget::exchangesAborted() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->monitor.exchangesAborted();
}

void SimTarget::say(const std::string& text) {
    // Under the lock, so that stop() cannot close the pipe in between.
    std::lock_guard lock(impl_->mutex);
    impl_->outQueue += text;
    impl_->wake();
}

}  // namespace sim
