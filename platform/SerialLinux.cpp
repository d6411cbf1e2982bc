#include "SerialLinux.h"

#include "VirtualLines.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>

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

unsigned eventsFromTiocm(int bits)
{
    unsigned e = 0;
    if (bits & TIOCM_CTS)
        e |= EvCts;
    if (bits & TIOCM_DSR)
        e |= EvDsr;
    if (bits & TIOCM_CD)
        e |= EvRlsd;
    if (bits & TIOCM_RNG)
        e |= EvRing;
    return e;
}

// ---- a tty ----

class TtyDevice final : public SerialDevice {
public:
    explicit TtyDevice(int fd) : fd_(fd)
    {
        haveCount_ = ioctl(fd_, TIOCGICOUNT, &count_) == 0;
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) == 0)
            levels_ = bits;
    }
    ~TtyDevice() override
    {
        flock(fd_, LOCK_UN);
        ::close(fd_);
    }

    Wait waitEvents(unsigned mask, unsigned &received) override
    {
        waiter_ = pthread_self();
        waiting_ = true;
        const Wait w = wait(mask, received);
        waiting_ = false;
        return w;
    }

    void stop() override
    {
        stop_ = true;
        if (waiting_)
            pthread_kill(waiter_, wakeSignal());
    }

    std::optional<unsigned> modemStatus() override
    {
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) != 0)
            return std::nullopt;
        return statusFromTiocm(bits);
    }

    int inQueue() override
    {
        int n = 0;
        return ioctl(fd_, TIOCINQ, &n) == 0 ? n : 0;
    }

    void purge() override { tcflush(fd_, TCIOFLUSH); }

private:
    enum class Mode { InterruptWait, Polling, StopOnly };

    // Lines whose counters moved since the last report.
    int changedSinceReport(const serial_icounter_struct &now) const
    {
        int bits = 0;
        if (now.cts != count_.cts)
            bits |= TIOCM_CTS;
        if (now.dsr != count_.dsr)
            bits |= TIOCM_DSR;
        if (now.dcd != count_.dcd)
            bits |= TIOCM_CD;
        if (now.rng != count_.rng)
            bits |= TIOCM_RNG;
        return bits;
    }

    // Lines whose level differs from the last report (for drivers without counters).
    int changedLevels()
    {
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) != 0)
            return 0;
        const int changed = (bits ^ levels_) & (TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG);
        return changed;
    }

    void markReported(const serial_icounter_struct *now)
    {
        if (now)
            count_ = *now;
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) == 0)
            levels_ = bits;
    }

    Wait wait(unsigned mask, unsigned &received)
    {
        const int watched = tiocmFromEvents(mask);
        if (watched == 0)
            mode_ = Mode::StopOnly;
        for (;;) {
            if (stop_)
                return Wait::Stopped;
            if (mode_ == Mode::StopOnly) {
                // Nothing to watch (or the adapter is gone): sleep until the stop signal.
                timespec ts{1, 0};
                nanosleep(&ts, nullptr);
                continue;
            }
            if (mode_ == Mode::Polling) {
                timespec ts{0, 1000000};
                nanosleep(&ts, nullptr);
                if (stop_)
                    return Wait::Stopped;
                int bits = 0;
                if (ioctl(fd_, TIOCMGET, &bits) != 0) {
                    mode_ = Mode::StopOnly; // the driver has no modem lines to compare either
                    continue;
                }
                const int changed = changedLevels() & watched;
                if (changed) {
                    markReported(nullptr);
                    received = eventsFromTiocm(changed);
                    return Wait::Events;
                }
                continue;
            }

            // Changes that came while the last report was being handed over count at once.
            serial_icounter_struct now{};
            if (haveCount_ && ioctl(fd_, TIOCGICOUNT, &now) == 0) {
                if (const int changed = changedSinceReport(now) & watched) {
                    markReported(&now);
                    received = eventsFromTiocm(changed);
                    return Wait::Events;
                }
            }
            if (stop_)
                return Wait::Stopped;
            if (ioctl(fd_, TIOCMIWAIT, watched) != 0) {
                const int e = errno;
                if (e == EINTR)
                    continue;
                if (e == ENOTTY || e == EINVAL) {
                    mode_ = Mode::Polling;
                    markReported(nullptr);
                    continue;
                }
                mode_ = Mode::StopOnly; // EIO: the adapter was unplugged
                continue;
            }
            int changed = 0;
            if (haveCount_ && ioctl(fd_, TIOCGICOUNT, &now) == 0) {
                changed = changedSinceReport(now) & watched;
                if (changed)
                    markReported(&now);
            } else {
                changed = changedLevels() & watched;
                if (changed)
                    markReported(nullptr);
            }
            if (changed) {
                received = eventsFromTiocm(changed);
                return Wait::Events;
            }
        }
    }

    int fd_;
    bool haveCount_ = false;
    serial_icounter_struct count_{};
    int levels_ = 0;
    Mode mode_ = Mode::InterruptWait;
    std::atomic<bool> stop_{false};
    std::atomic<bool> waiting_{false};
    pthread_t waiter_{};
};

// ---- a virtual line socket ----

int connectSocket(const std::string &path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

// The first answer of the server to OPEN: the line levels, or nothing (errno set) when the port is
// busy or does not answer.
std::optional<unsigned> attach(int fd, const char *request = "OPEN\n")
{
    const std::string open = request;
    if (::send(fd, open.data(), open.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(open.size())) {
        errno = EIO;
        return std::nullopt;
    }
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    while (line.empty() || line.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            errno = ETIMEDOUT;
            return std::nullopt;
        }
        char c;
        if (::recv(fd, &c, 1, 0) != 1) {
            errno = EIO;
            return std::nullopt;
        }
        line += c;
    }
    line.pop_back();
    if (line == "BUSY") {
        errno = EBUSY;
        return std::nullopt;
    }
    const std::optional<unsigned> levels = parseLevels(line, 0);
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

class VirtualDevice final : public SerialDevice {
public:
    VirtualDevice(int fd, unsigned levels) : fd_(fd), stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), levels_(levels)
    {
    }
    ~VirtualDevice() override
    {
        ::close(fd_);
        ::close(stopFd_);
    }

    Wait waitEvents(unsigned mask, unsigned &received) override
    {
        for (;;) {
            // Lines already read but not reported (a report holds only watched lines).
            if (const unsigned watched = eventsFromTiocm(tiocmFromLines(pending_)) & mask) {
                pending_ = 0;
                received = watched;
                return Wait::Events;
            }
            pending_ = 0;
            pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
            const int r = ::poll(fds, connected_ ? 2 : 1, -1);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return Wait::Stopped;
            }
            if (fds[0].revents)
                return Wait::Stopped;
            if (connected_ && fds[1].revents)
                readMessages();
        }
    }

    void stop() override
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    }

    std::optional<unsigned> modemStatus() override { return statusFromTiocm(tiocmFromLines(levels_.load())); }
    int inQueue() override { return 0; }
    void purge() override {}

private:
    void readMessages()
    {
        char buf[512];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            connected_ = false; // the simulator went away: the port stays open, lines frozen
            return;
        }
        if (n < 0)
            return;
        buffer_.append(buf, static_cast<std::size_t>(n));
        std::size_t eol;
        while ((eol = buffer_.find('\n')) != std::string::npos) {
            const std::string message = buffer_.substr(0, eol);
            buffer_.erase(0, eol + 1);
            const unsigned before = levels_.load();
            if (const std::optional<unsigned> after = parseLevels(message, before)) {
                // Every line that moved counts, also when a pulse came and went within one read.
                pending_ |= before ^ *after;
                levels_ = *after;
            }
        }
        if (buffer_.size() > 4096)
            buffer_.clear();
    }

    int fd_;
    int stopFd_;
    std::atomic<unsigned> levels_;
    unsigned pending_ = 0;
    bool connected_ = true;
    std::string buffer_;
};

bool isSocket(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

} // namespace

// ---------------------------------------------------------------------------------------------

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
    const QString name = deviceName(port);
    if (name.isEmpty())
        throw SerialError(SerialError::Open, errorText(ENOENT));
    const QByteArray path = QFile::encodeName(name);

    if (isSocket(name)) {
        const int fd = connectSocket(path.toStdString());
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
    tcflush(fd, TCIOFLUSH);
    return std::make_unique<TtyDevice>(fd);
}

bool LinuxSerialDevices::probe(int port)
{
    const QString name = deviceName(port);
    if (name.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(name);
    if (isSocket(name)) {
        const int fd = connectSocket(path.toStdString());
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
