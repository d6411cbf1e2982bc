#include "SerialLinux.h"

#include "VirtualLines.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <ctime>

namespace platform {

namespace {

// termios2, for rates without a Bxxx constant (the kernel's own layout; <asm/termbits.h> cannot
// be included beside <termios.h>).
struct KernelTermios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};
constexpr unsigned long kTcGets2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kTcSets2 = _IOW('T', 0x2B, KernelTermios2);
constexpr tcflag_t kBother = 0010000;
constexpr tcflag_t kCbaud = 0010017;

std::string errorText(int error)
{
    return std::strerror(error);
}

// ---- the wake-up signal of waiting monitor threads ----

int wakeSignal()
{
    static const int sig = SIGRTMIN + 7;
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa{};
        sa.sa_handler = [](int) {};
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no SA_RESTART: a blocked ioctl returns EINTR
        sigaction(sig, &sa, nullptr);
    });
    return sig;
}

unsigned statusFromTiocm(int bits)
{
    unsigned s = 0;
    if (bits & TIOCM_CTS)
        s |= MsCts;
    if (bits & TIOCM_DSR)
        s |= MsDsr;
    if (bits & TIOCM_RNG)
        s |= MsRing;
    if (bits & TIOCM_CD)
        s |= MsRlsd;
    return s;
}

int tiocmFromEvents(unsigned mask)
{
    int bits = 0;
    if (mask & EvCts)
        bits |= TIOCM_CTS;
    if (mask & EvDsr)
        bits |= TIOCM_DSR;
    if (mask & EvRlsd)
        bits |= TIOCM_CD;
    if (mask & EvRing)
        bits |= TIOCM_RNG;
    return bits;
}

// ---- a tty ----

// The modem-status lines as a tty reports them: event, level bit, transition counter.
struct TtyLine {
    unsigned event;
    int bit;
    int serial_icounter_struct::*count;
};
constexpr TtyLine kTtyLines[] = {
    {EvCts, TIOCM_CTS, &serial_icounter_struct::cts},
    {EvDsr, TIOCM_DSR, &serial_icounter_struct::dsr},
    {EvRlsd, TIOCM_CD, &serial_icounter_struct::dcd},
    {EvRing, TIOCM_RNG, &serial_icounter_struct::rng},
};

constexpr unsigned kLineEvents = EvCts | EvDsr | EvRlsd | EvRing;
constexpr unsigned kDataEvents = EvRxChar | EvRxFlag | EvTxEmpty | EvBreak | EvError;

bool sleepMs(long ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    return nanosleep(&ts, nullptr) == 0;
}

class TtyDevice final : public SerialDevice {
public:
    TtyDevice(int fd, int readBufSize)
        : fd_(fd), stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          queueLimit_(static_cast<std::size_t>(std::max(readBufSize, 4096)))
    {
        haveCount_ = ioctl(fd_, TIOCGICOUNT, &count_) == 0;
        haveErrorCount_ = haveCount_;
        errors_ = count_;
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) == 0)
            levels_ = bits;
    }
    ~TtyDevice() override
    {
        stop();
        endHelper();
        if (epoll_ >= 0)
            ::close(epoll_);
        if (modemFd_ >= 0)
            ::close(modemFd_);
        ::close(stopFd_);
        flock(fd_, LOCK_UN);
        ::close(fd_);
    }

    Wait waitEvents(unsigned mask, unsigned &received, LineEdges &edges) override
    {
        received = 0;
        edges.clear();
        if (failure_.load() != 0)
            return Wait::Lost;
        waiter_ = pthread_self();
        waiting_ = true;
        const Wait w = (mask & kDataEvents) ? waitWithData(mask, received, edges) : waitLines(mask, received, edges);
        waiting_ = false;
        return w;
    }

    void stop() override
    {
        stop_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
        if (waiting_)
            pthread_kill(waiter_, wakeSignal());
        if (helperRunning_)
            pthread_kill(helper_.native_handle(), wakeSignal());
    }

    std::optional<unsigned> modemStatus() override
    {
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) != 0)
            return std::nullopt;
        return statusFromTiocm(bits);
    }

    int failure() const override { return failure_.load(); }

    int inQueue() override
    {
        int n = 0;
        if (ioctl(fd_, TIOCINQ, &n) != 0)
            n = 0;
        return n + static_cast<int>(queued_.load());
    }

    void purge() override
    {
        tcflush(fd_, TCIOFLUSH);
        queued_ = 0;
    }

private:
    enum class Mode { InterruptWait, Polling, StopOnly };

    // The device failed: this wait and every later one end with Lost.
    Wait lost(int error)
    {
        failure_ = error != 0 ? error : EIO;
        return Wait::Lost;
    }

    // An error of the device that only its going away explains (not a wake-up, not a driver
    // without modem lines).
    static bool gone(int error) { return error != EINTR && error != ENOTTY && error != EINVAL; }

    // Waits for the stop or for the device to hang up (an unplugged adapter, a pseudo terminal
    // whose other end closed): poll reports a hang-up whatever events are asked for, and nothing
    // else with none asked. True when it hung up.
    bool waitForHangUp()
    {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd_, 0, 0}};
        if (::poll(fds, 2, -1) < 0)
            return false; // a wake-up signal: the caller looks at the stop
        return (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }

    // Levels first: a UART driver folds pending status changes into its counters while it reads
    // the levels, so the counters read after them already hold every change the levels show.
    bool readState(int &bits, serial_icounter_struct &counts)
    {
        const bool haveBits = ioctl(fd_, TIOCMGET, &bits) == 0;
        if (haveCount_ && ioctl(fd_, TIOCGICOUNT, &counts) != 0)
            counts = count_;
        if (!haveBits) {
            // No levels: they follow from the counts.
            bits = levels_;
            for (const TtyLine &l : kTtyLines)
                if (static_cast<std::uint32_t>(counts.*l.count - count_.*l.count) & 1u)
                    bits ^= l.bit;
        }
        return haveBits;
    }

    std::uint32_t transitions(const serial_icounter_struct &now, const TtyLine &l) const
    {
        return haveCount_ ? static_cast<std::uint32_t>(now.*l.count - count_.*l.count) : 0u;
    }

    bool agrees(int bits, const serial_icounter_struct &now, unsigned watched) const
    {
        // The ring line is counted on its trailing edge only: its level runs ahead by design.
        for (const TtyLine &l : kTtyLines)
            if ((watched & l.event) && l.event != EvRing
                && !transitionsAgree(levels_ & l.bit, transitions(now, l), bits & l.bit))
                return false;
        return true;
    }

    // The report of the watched lines since the last one, seen at nanos: false when none of them
    // moved. A USB adapter reads the levels live but counts the changes of its status packets,
    // which can lag by one packet: while the two disagree the state is read again (the edges keep
    // the time of the wake-up) for up to kSettleMs.
    bool lineReport(unsigned mask, std::int64_t nanos, unsigned &received, LineEdges &edges)
    {
        int bits = 0;
        serial_icounter_struct now = count_;
        readState(bits, now);
        for (int i = 0; haveCount_ && i < kSettleMs && !agrees(bits, now, mask) && !stop_; ++i) {
            sleepMs(1);
            readState(bits, now);
        }
        const std::size_t first = edges.size();
        for (const TtyLine &l : kTtyLines) {
            if (!(mask & l.event))
                continue;
            appendLineEdges(edges, l.event, levels_ & l.bit, transitions(now, l), bits & l.bit, nanos);
        }
        count_.cts = now.cts;
        count_.dsr = now.dsr;
        count_.dcd = now.dcd;
        count_.rng = now.rng;
        levels_ = bits;
        for (std::size_t i = first; i < edges.size(); ++i)
            received |= edges[i].line;
        return edges.size() > first;
    }

    // Watched lines whose counters moved since the last report.
    bool countsMoved(unsigned mask)
    {
        serial_icounter_struct now{};
        if (!haveCount_ || ioctl(fd_, TIOCGICOUNT, &now) != 0)
            return false;
        for (const TtyLine &l : kTtyLines)
            if ((mask & l.event) && now.*l.count != count_.*l.count)
                return true;
        return false;
    }

    // The modem lines alone: blocks in TIOCMIWAIT, no polling, no other wake-ups.
    Wait waitLines(unsigned mask, unsigned &received, LineEdges &edges)
    {
        const int watched = tiocmFromEvents(mask);
        if (watched == 0)
            mode_ = Mode::StopOnly;
        for (;;) {
            if (stop_)
                return Wait::Stopped;
            if (mode_ == Mode::StopOnly) {
                // Nothing to watch: wait for the stop, or for the device to go away.
                if (waitForHangUp() && !stop_)
                    return lost(ENODEV);
                continue;
            }
            if (mode_ == Mode::Polling) {
                sleepMs(1);
                if (stop_)
                    return Wait::Stopped;
                int bits = 0;
                if (ioctl(fd_, TIOCMGET, &bits) != 0) {
                    const int e = errno;
                    if (gone(e))
                        return lost(e);
                    if (e != EINTR)
                        mode_ = Mode::StopOnly; // the driver has no modem lines to compare either
                    continue;
                }
                if (lineReport(mask, monotonicNanos(), received, edges))
                    return Wait::Events;
                continue;
            }

            // Changes that came while the last report was being handed over count at once.
            if (countsMoved(mask) && lineReport(mask, monotonicNanos(), received, edges))
                return Wait::Events;
            if (stop_)
                return Wait::Stopped;
            if (ioctl(fd_, TIOCMIWAIT, watched) != 0) {
                const int e = errno;
                if (e == EINTR)
                    continue;
                if (e == ENOTTY || e == EINVAL) {
                    mode_ = Mode::Polling;
                    haveCount_ = false; // the levels alone tell the changes
                    continue;
                }
                return lost(e); // EIO, ENXIO, ENODEV: the adapter was unplugged
            }
            if (lineReport(mask, monotonicNanos(), received, edges))
                return Wait::Events;
        }
    }

    // ---- data events beside the lines ----

    // Input, output and the stop wake one epoll; the modem lines, which no poll reports, are
    // waited for by a helper thread in TIOCMIWAIT that signals an eventfd the epoll watches.
    void setUpDataWait(unsigned mask)
    {
        dataSetUp_ = true;
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = kStopTag;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, stopFd_, &ev);
        ev.events = EPOLLET;
        if (mask & (EvRxChar | EvRxFlag | EvBreak | EvError))
            ev.events |= EPOLLIN; // a break or a framing error arrives as a character too
        if (mask & EvTxEmpty)
            ev.events |= EPOLLOUT;
        ev.data.u32 = kPortTag;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, fd_, &ev);
        // The queues were emptied on open: input found by the first look arrived since (the
        // epoll reports the readiness the port already has once).

        const int watched = tiocmFromEvents(mask);
        int bits = 0;
        if (watched == 0 || ioctl(fd_, TIOCMGET, &bits) != 0) {
            mode_ = Mode::StopOnly; // no lines to watch
            return;
        }
        modemFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        ev.events = EPOLLIN;
        ev.data.u32 = kModemTag;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, modemFd_, &ev);
        helperRunning_ = true;
        helper_ = std::thread([this, watched] { helperLoop(watched); });
    }

    void helperLoop(int watched)
    {
        const std::uint64_t one = 1;
        while (!stop_) {
            if (ioctl(fd_, TIOCMIWAIT, watched) == 0) {
                [[maybe_unused]] const ssize_t n = ::write(modemFd_, &one, sizeof one);
                continue;
            }
            const int e = errno;
            if (e == EINTR)
                continue;
            // No interrupt wait here: the monitor compares the levels every millisecond instead
            // (or, once the adapter is gone, not at all).
            linesPolled_ = e == ENOTTY || e == EINVAL;
            [[maybe_unused]] const ssize_t n = ::write(modemFd_, &one, sizeof one);
            break;
        }
        helperRunning_ = false;
    }

    void endHelper()
    {
        if (!helper_.joinable())
            return;
        while (helperRunning_) {
            pthread_kill(helper_.native_handle(), wakeSignal());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        helper_.join();
    }

    // Reads what arrived (the event character must be seen, which takes reading it), counts it
    // into the port's own queue and adds EvRxFlag when the event character (0) was among it. True
    // when anything arrived. Nobody reads the characters themselves, so the queue is their number
    // alone: no lock and no allocation on the monitor thread.
    bool takeInput(unsigned &received)
    {
        bool flag = false, any = false;
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                break;
            any = true;
            flag = flag || std::memchr(buf, kEventChar, static_cast<std::size_t>(n)) != nullptr;
            std::size_t was = queued_.load();
            while (!queued_.compare_exchange_weak(was, std::min(was + static_cast<std::size_t>(n), queueLimit_))) {
            }
        }
        if (flag)
            received |= EvRxFlag;
        return any;
    }

    unsigned lineErrors()
    {
        serial_icounter_struct now{};
        if (!haveErrorCount_ || ioctl(fd_, TIOCGICOUNT, &now) != 0)
            return 0;
        unsigned e = 0;
        if (now.brk != errors_.brk)
            e |= EvBreak;
        if (now.frame != errors_.frame || now.parity != errors_.parity || now.overrun != errors_.overrun
            || now.buf_overrun != errors_.buf_overrun)
            e |= EvError;
        errors_ = now;
        return e;
    }

    Wait waitWithData(unsigned mask, unsigned &received, LineEdges &edges)
    {
        if (!dataSetUp_)
            setUpDataWait(mask);
        const unsigned lines = mask & kLineEvents;
        for (;;) {
            if (stop_)
                return Wait::Stopped;
            if (lines && mode_ == Mode::InterruptWait && countsMoved(mask)
                && lineReport(lines, monotonicNanos(), received, edges))
                return Wait::Events;
            epoll_event ready[4];
            const int timeout = (lines && linesPolled_ && mode_ != Mode::StopOnly) ? 1 : -1;
            const int n = ::epoll_wait(epoll_, ready, 4, timeout);
            const std::int64_t nanos = monotonicNanos();
            if (n < 0 && errno != EINTR)
                return Wait::Stopped;
            bool input = false, output = false, modem = n == 0;
            for (int i = 0; i < n; ++i) {
                switch (ready[i].data.u32) {
                case kStopTag: return Wait::Stopped;
                case kPortTag:
                    // A hang-up: the adapter was unplugged (input that came before it is not
                    // reported any more; nobody reads it).
                    if (ready[i].events & (EPOLLHUP | EPOLLERR))
                        return lost(EIO);
                    input = input || (ready[i].events & EPOLLIN);
                    output = output || (ready[i].events & EPOLLOUT);
                    break;
                case kModemTag: {
                    std::uint64_t v;
                    [[maybe_unused]] const ssize_t r = ::read(modemFd_, &v, sizeof v);
                    modem = true;
                    break;
                }
                default: break;
                }
            }
            if (modem && linesPolled_ && mode_ == Mode::InterruptWait) {
                mode_ = Mode::Polling;
                haveCount_ = false;
            }
            // Every wake-up of the tty reports all its readiness: what counts is whether characters
            // arrived and whether the transmit queue ran empty since the last look.
            if (input || output) {
                bool arrived = (mask & EvRxFlag) && takeInput(received);
                int queued = 0;
                if (ioctl(fd_, TIOCINQ, &queued) == 0) {
                    arrived = arrived || queued > lastInQueue_;
                    lastInQueue_ = queued;
                }
                if (arrived && (mask & EvRxChar))
                    received |= EvRxChar;
                if (ioctl(fd_, TIOCOUTQ, &queued) == 0) {
                    if (queued == 0 && lastOutQueue_ > 0 && (mask & EvTxEmpty))
                        received |= EvTxEmpty;
                    lastOutQueue_ = queued;
                }
            }
            received |= lineErrors() & mask;
            if (modem && lines && mode_ != Mode::StopOnly)
                lineReport(lines, nanos, received, edges);
            if (received)
                return Wait::Events;
        }
    }

    static constexpr int kSettleMs = 20;
    static constexpr std::uint32_t kStopTag = 0, kPortTag = 1, kModemTag = 2;
    static constexpr char kEventChar = 0;

    int fd_;
    int stopFd_;
    bool haveCount_ = false;
    serial_icounter_struct count_{};
    int levels_ = 0;
    Mode mode_ = Mode::InterruptWait;
    std::atomic<bool> stop_{false};
    std::atomic<bool> waiting_{false};
    std::atomic<int> failure_{0};
    pthread_t waiter_{};

    bool dataSetUp_ = false;
    int epoll_ = -1;
    int modemFd_ = -1;
    std::thread helper_;
    std::atomic<bool> helperRunning_{false};
    std::atomic<bool> linesPolled_{false};
    int lastInQueue_ = 0;
    int lastOutQueue_ = 0;
    bool haveErrorCount_ = false;
    serial_icounter_struct errors_{};
    std::atomic<std::size_t> queued_{0};
    std::size_t queueLimit_;
};

// ---- a virtual line socket ----

// The first answer of the server to OPEN: the line levels, or nothing (errno set) when the port is
// busy or does not answer.
std::optional<unsigned> attach(int fd, const char *request = "OPEN")
{
    if (!sendLineMessage(fd, request)) {
        errno = EIO;
        return std::nullopt;
    }
    const std::optional<std::string> line = receiveLineMessage(fd, 1000);
    if (!line) {
        errno = ETIMEDOUT;
        return std::nullopt;
    }
    if (*line == "BUSY") {
        errno = EBUSY;
        return std::nullopt;
    }
    const std::optional<unsigned> levels = parseLevels(*line, 0);
    if (!levels)
        errno = EPROTO;
    return levels;
}

int tiocmFromLines(unsigned lines)
{
    int bits = 0;
    if (lines & LineCts)
        bits |= TIOCM_CTS;
    if (lines & LineDsr)
        bits |= TIOCM_DSR;
    if (lines & LineDcd)
        bits |= TIOCM_CD;
    if (lines & LineRi)
        bits |= TIOCM_RNG;
    return bits;
}

constexpr std::pair<unsigned, unsigned> kVirtualLines[] = {
    {EvCts, LineCts}, {EvDsr, LineDsr}, {EvRlsd, LineDcd}, {EvRing, LineRi}};

class VirtualDevice final : public SerialDevice {
public:
    VirtualDevice(int fd, unsigned levels) : fd_(fd), stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), levels_(levels)
    {
        // Every message carries the instant it was sent.
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    }
    ~VirtualDevice() override
    {
        ::close(fd_);
        ::close(stopFd_);
    }

    Wait waitEvents(unsigned mask, unsigned &received, LineEdges &edges) override
    {
        received = 0;
        edges.clear();
        for (;;) {
            // Changes already read but not reported (a report holds only watched lines); those
            // read before the line went away too.
            const std::size_t first = edges.size();
            for (const unsigned line : kLineEventOrder)
                if (mask & line)
                    for (const LineEdge &e : pending_)
                        if (e.line == line)
                            edges.push_back(e);
            pending_.clear();
            if (edges.size() > first) {
                for (std::size_t i = first; i < edges.size(); ++i)
                    received |= edges[i].line;
                return Wait::Events;
            }
            if (failure_.load() != 0)
                return Wait::Lost;
            pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
            const int r = ::poll(fds, 2, -1);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return Wait::Stopped;
            }
            if (fds[0].revents)
                return Wait::Stopped;
            if (fds[1].revents)
                readMessages();
        }
    }

    int failure() const override { return failure_.load(); }

    void stop() override
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    }

    std::optional<unsigned> modemStatus() override { return statusFromTiocm(tiocmFromLines(levels_.load())); }
    int inQueue() override { return 0; }
    void purge() override {}

private:
    // Reads the messages that have arrived, as many as the pending edges have room for (the rest
    // wait in the socket, with their stamps, for the next wait). Each change is dated to the
    // instant its message was sent (the kernel's stamp, on the real-time clock, turned into the
    // monotonic one), never earlier than the change before it nor later than its reading:
    // messages that piled up while this thread waited for the processor keep their own times, a
    // pulse shorter than that wait stays two edges, and the order of edges across ports is the
    // order they were sent in.
    void readMessages()
    {
        timespec real{}, mono{};
        clock_gettime(CLOCK_REALTIME, &real);
        clock_gettime(CLOCK_MONOTONIC, &mono);
        const std::int64_t realMinusMono = (static_cast<std::int64_t>(real.tv_sec) - mono.tv_sec) * 1000000000
                                           + (real.tv_nsec - mono.tv_nsec);
        while (pending_.room() >= std::size(kVirtualLines)) {
            char buf[kMaxLineMessage];
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
            iovec iov{buf, sizeof buf};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(fd_, &msg, MSG_DONTWAIT);
            const std::int64_t seen = monotonicNanos();
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (n <= 0) {
                // The line went away (the simulator unplugged it or ended): as an adapter pulled out.
                failure_ = n == 0 ? ECONNRESET : errno;
                return;
            }
            if (msg.msg_flags & MSG_TRUNC)
                continue;
            std::int64_t sent = seen;
            for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts{};
                    std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    sent = static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec - realMinusMono;
                }
            sent = std::clamp(sent, std::min(lastSent_, seen), seen);
            lastSent_ = sent;
            std::string_view message(buf, static_cast<std::size_t>(n));
            while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
                message.remove_suffix(1);
            const unsigned before = levels_.load();
            if (const std::optional<unsigned> after = parseLevels(message, before)) {
                for (const auto &[line, bit] : kVirtualLines)
                    if ((before ^ *after) & bit) {
                        appendLineEdges(pending_, line, before & bit, 1, *after & bit, sent);
                        pending_.back().seen = seen;
                    }
                levels_ = *after;
            }
        }
    }

    int fd_;
    int stopFd_;
    std::atomic<unsigned> levels_;
    LineEdges pending_;
    std::atomic<int> failure_{0};
    std::int64_t lastSent_ = 0;
};

bool isSocket(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

} // namespace

// ---------------------------------------------------------------------------------------------

std::int64_t monotonicNanos()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void appendLineEdges(LineEdges &edges, unsigned line, bool previous, std::uint32_t transitions, bool current,
                     std::int64_t nanos)
{
    std::uint32_t n = transitions;
    if (!transitionsAgree(previous, n, current))
        n = n == 0xFFFFFFFFu ? n - 1 : n + 1;
    if (n > kMaxEdgesPerLine)
        n = kMaxEdgesPerLine - ((kMaxEdgesPerLine ^ n) & 1u);
    bool level = previous;
    for (std::uint32_t i = 0; i < n; ++i) {
        level = !level;
        LineEdge e;
        e.line = line;
        e.active = level;
        e.nanos = nanos;
        e.seen = nanos;
        edges.push_back(e);
    }
}

DeviceTable defaultDeviceTable()
{
    DeviceTable t;
    for (int n = 1; n <= 4; ++n)
        t[static_cast<std::size_t>(n)] = QStringLiteral("/dev/ttyS%1").arg(n - 1);
    for (int n = 5; n <= 12; ++n)
        t[static_cast<std::size_t>(n)] = QStringLiteral("/dev/ttyUSB%1").arg(n - 5);
    for (int n = 13; n <= 16; ++n)
        t[static_cast<std::size_t>(n)] = QStringLiteral("/dev/ttyACM%1").arg(n - 13);
    return t;
}

QString defaultDevicesFolder()
{
    const QByteArray own = qgetenv("ZIELKRON_DEVICES");
    if (!own.isEmpty())
        return QFile::decodeName(own);
    QByteArray config = qgetenv("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QFile::encodeName(QDir::homePath() + QStringLiteral("/.config"));
    return QFile::decodeName(config) + QStringLiteral("/Tempovia/devices");
}

TermiosSetup termiosFor(const SerialSettings &s)
{
    TermiosSetup out;
    termios &t = out.tio;
    // Raw mode: no input or output processing, no echo, no signals.
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CLOCAL | CREAD;
    switch (s.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }
    switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break; // mark
    case 4: t.c_cflag |= PARENB | CMSPAR; break;          // space
    default: break;
    }
    if (s.stopBits != 0) // one and a half stop bits do not exist here: two
        t.c_cflag |= CSTOPB;
    if (s.flowControl == 1)
        t.c_cflag |= CRTSCTS;
    if (s.flowControl == 2)
        t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    t.c_cc[VMIN] = 0; // a read returns at once with what is queued
    t.c_cc[VTIME] = 0;

    static const struct {
        int rate;
        speed_t constant;
    } rates[] = {{50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
                 {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
                 {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                 {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto &r : rates)
        if (r.rate == s.baudRate)
            out.speed = r.constant;
    if (out.speed == B0)
        out.customBaud = s.baudRate;
    else
        cfsetspeed(&t, out.speed);

    out.dtr = s.dtr;
    out.rts = s.flowControl == 1;
    return out;
}

LinuxSerialDevices::LinuxSerialDevices(QString devicesFolder, DeviceTable defaults)
    : folder_(std::move(devicesFolder)), defaults_(std::move(defaults))
{
    wakeSignal();
}

QString LinuxSerialDevices::deviceName(int port)
{
    if (port < 1 || port > 16)
        return QString();
    if (!folder_.isEmpty()) {
        const QString entry = QDir(folder_).filePath(QStringLiteral("com%1").arg(port));
        const QFileInfo info(entry);
        if (info.exists() || info.isSymLink())
            return entry;
    }
    return defaults_[static_cast<std::size_t>(port)];
}

std::unique_ptr<SerialDevice> LinuxSerialDevices::open(int port, const SerialSettings &settings)
{
    return openNode(deviceName(port), settings);
}

std::unique_ptr<SerialDevice> LinuxSerialDevices::openNode(const QString &name, const SerialSettings &settings)
{
    if (name.isEmpty())
        throw SerialError(SerialError::Open, errorText(ENOENT));
    const QByteArray path = QFile::encodeName(name);

    if (isSocket(name)) {
        const int fd = connectLineSocket(path.toStdString());
        if (fd < 0)
            throw SerialError(SerialError::Open, errorText(errno));
        const std::optional<unsigned> levels = attach(fd);
        if (!levels) {
            const int e = errno;
            ::close(fd);
            throw SerialError(SerialError::Open, errorText(e));
        }
        return std::make_unique<VirtualDevice>(fd, *levels);
    }

    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw SerialError(SerialError::Open, errorText(errno));
    auto fail = [fd](SerialError::Kind kind, int error) {
        ::close(fd);
        throw SerialError(kind, errorText(error));
    };
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        fail(SerialError::Open, ENOTTY);
    // Exclusive: no second open of the tty (TIOCEXCL) and no second desk (the lock, which also
    // holds against root).
    ioctl(fd, TIOCEXCL);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        fail(SerialError::Open, EBUSY);

    const TermiosSetup setup = termiosFor(settings);
    termios current{};
    if (tcgetattr(fd, &current) != 0)
        fail(SerialError::State, errno);
    if (tcsetattr(fd, TCSANOW, &setup.tio) != 0)
        fail(SerialError::State, errno);
    if (setup.customBaud > 0) {
        KernelTermios2 t2{};
        if (ioctl(fd, kTcGets2, &t2) != 0)
            fail(SerialError::State, errno);
        t2.c_cflag &= ~kCbaud;
        t2.c_cflag |= kBother;
        t2.c_ispeed = t2.c_ospeed = static_cast<speed_t>(setup.customBaud);
        if (ioctl(fd, kTcSets2, &t2) != 0)
            fail(SerialError::State, errno);
    }
    int dtr = TIOCM_DTR;
    ioctl(fd, setup.dtr ? TIOCMBIS : TIOCMBIC, &dtr);
    int rts = TIOCM_RTS;
    ioctl(fd, setup.rts ? TIOCMBIS : TIOCMBIC, &rts);
    // USB adapters send their line status once per latency-timer period (16 ms by default on
    // FTDI chips); low-latency mode shortens it to 1 ms. A driver that refuses it (or a pseudo
    // terminal, which has no such setting) is no error.
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &ss);
    }
    tcflush(fd, TCIOFLUSH);
    return std::make_unique<TtyDevice>(fd, settings.readBufSize);
}

bool LinuxSerialDevices::probe(int port)
{
    const QString name = deviceName(port);
    if (name.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(name);
    if (isSocket(name)) {
        const int fd = connectLineSocket(path.toStdString());
        if (fd < 0)
            return false;
        const bool ok = attach(fd, "PROBE\n").has_value();
        ::close(fd);
        return ok;
    }
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st{};
    termios t{};
    bool ok = fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && tcgetattr(fd, &t) == 0;
    if (ok && flock(fd, LOCK_EX | LOCK_NB) != 0)
        ok = false; // in use by another program
    ::close(fd);
    return ok;
}

} // namespace platform
