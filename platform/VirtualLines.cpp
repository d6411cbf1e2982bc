#include "VirtualLines.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>

namespace platform {

namespace {

const struct {
    const char *name;
    unsigned bit;
} kLines[] = {{"CTS", LineCts}, {"DSR", LineDsr}, {"DCD", LineDcd}, {"RI", LineRi}};

} // namespace

int connectLineSocket(const std::string &path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
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

bool sendLineMessage(int fd, const std::string &text)
{
    const std::string message = text + "\n";
    for (;;) {
        const ssize_t n = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        return n == static_cast<ssize_t>(message.size());
    }
}

std::optional<std::string> receiveLineMessage(int fd, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return std::nullopt;
        char buf[kMaxLineMessage];
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_TRUNC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || n > static_cast<ssize_t>(sizeof buf))
            return std::nullopt;
        std::string line(buf, static_cast<std::size_t>(n));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        return line;
    }
}

std::string formatLevels(unsigned levels)
{
    std::string s;
    for (const auto &l : kLines) {
        if (!s.empty())
            s += ' ';
        s += l.name;
        s += (levels & l.bit) ? "=1" : "=0";
    }
    return s;
}

std::optional<unsigned> parseLevels(std::string_view message, unsigned previous)
{
    auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    unsigned levels = previous;
    bool any = false;
    std::size_t i = 0;
    while (i < message.size()) {
        if (space(message[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < message.size() && !space(message[end]))
            ++end;
        const std::string_view item = message.substr(i, end - i);
        i = end;
        const auto eq = item.find('=');
        if (eq == std::string_view::npos)
            return std::nullopt;
        const std::string_view name = item.substr(0, eq);
        const std::string_view value = item.substr(eq + 1);
        if (value != "0" && value != "1")
            return std::nullopt;
        bool known = false;
        for (const auto &l : kLines)
            if (name == l.name) {
                levels = value == "1" ? (levels | l.bit) : (levels & ~l.bit);
                known = true;
            }
        if (!known)
            return std::nullopt;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return levels;
}

std::optional<LineCommand> parseLineCommand(const std::string &text, std::string *error)
{
    auto fail = [error](const std::string &why) -> std::optional<LineCommand> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    std::istringstream in(text);
    std::string lines, action, ms, extra;
    in >> lines >> action >> ms >> extra;
    if (lines.empty() || action.empty())
        return fail("expected: <line>[+<line>...] on|off|pulse [ms]");
    for (char &c : lines)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char &c : action)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    LineCommand cmd;
    std::istringstream names(lines);
    std::string name;
    while (std::getline(names, name, '+')) {
        if (name == "cts")
            cmd.lines |= LineCts;
        else if (name == "dsr")
            cmd.lines |= LineDsr;
        else if (name == "dcd" || name == "rlsd" || name == "cd")
            cmd.lines |= LineDcd;
        else if (name == "ri" || name == "ring")
            cmd.lines |= LineRi;
        else
            return fail("unknown line '" + name + "' (cts, dsr, dcd, ri)");
    }
    if (action == "on" || action == "1")
        cmd.action = LineCommand::On;
    else if (action == "off" || action == "0")
        cmd.action = LineCommand::Off;
    else if (action == "pulse")
        cmd.action = LineCommand::Pulse;
    else
        return fail("unknown action '" + action + "' (on, off, pulse)");
    if (!ms.empty()) {
        if (cmd.action != LineCommand::Pulse)
            return fail("only a pulse takes a duration");
        char *end = nullptr;
        const long v = std::strtol(ms.c_str(), &end, 10);
        if (*end != '\0' || v < 0 || v > 60000)
            return fail("pulse duration must be 0..60000 ms");
        cmd.pulseMs = static_cast<int>(v);
    }
    if (!extra.empty())
        return fail("unexpected '" + extra + "'");
    return cmd;
}

// ---------------------------------------------------------------------------------------------

VirtualLineServer::VirtualLineServer(std::string socketPath) : path_(std::move(socketPath)) {}

VirtualLineServer::~VirtualLineServer()
{
    stop();
}

bool VirtualLineServer::start(std::string *error)
{
    auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        if (listen_ >= 0)
            ::close(listen_);
        listen_ = -1;
        return false;
    };
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.size() >= sizeof(addr.sun_path))
        return fail("socket path too long: " + path_);
    std::strncpy(addr.sun_path, path_.c_str(), sizeof(addr.sun_path) - 1);

    // A socket left behind by a simulator that ended without cleaning up is replaced; anything
    // else under that name is left alone.
    struct stat st{};
    if (::lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            return fail(path_ + " exists and is not a socket");
        const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        const bool alive = ::connect(probe, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        ::close(probe);
        if (alive)
            return fail(path_ + " is served by another simulator");
        ::unlink(path_.c_str());
    }
    listen_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (listen_ < 0)
        return fail(std::strerror(errno));
    if (::bind(listen_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        return fail(path_ + ": " + std::strerror(errno));
    if (::listen(listen_, 8) != 0)
        return fail(std::strerror(errno));
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void VirtualLineServer::stop()
{
    if (!running_.exchange(false))
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    thread_.join();
    if (const int d = desk_.exchange(-1); d >= 0)
        ::close(d);
    ::close(listen_);
    ::close(wake_);
    listen_ = wake_ = -1;
    ::unlink(path_.c_str());
}

bool VirtualLineServer::unplug()
{
    if (!running_.load())
        return false;
    stop();
    tell("unplugged");
    return true;
}

bool VirtualLineServer::replug(std::string *error)
{
    if (running_.load()) {
        if (error)
            *error = "plugged in already";
        return false;
    }
    if (!start(error))
        return false;
    tell("plugged in again");
    return true;
}

void VirtualLineServer::tell(const std::string &text)
{
    if (onEvent)
        onEvent(text);
}

void VirtualLineServer::sendLevels(unsigned levels)
{
    std::lock_guard<std::mutex> lock(sendMutex_);
    levels_ = levels;
    const int d = desk_.load();
    if (d >= 0)
        sendLineMessage(d, formatLevels(levels));
}

void VirtualLineServer::set(unsigned lines, bool on)
{
    const unsigned now = levels_.load();
    sendLevels(on ? (now | lines) : (now & ~lines));
}

void VirtualLineServer::pulse(unsigned lines, int ms)
{
    set(lines, true);
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    set(lines, false);
}

void VirtualLineServer::apply(const LineCommand &command)
{
    switch (command.action) {
    case LineCommand::On: set(command.lines, true); break;
    case LineCommand::Off: set(command.lines, false); break;
    case LineCommand::Pulse: pulse(command.lines, command.pulseMs); break;
    }
}

bool VirtualLineServer::waitForDesk(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(deskMutex_);
    return deskChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return desk_.load() >= 0; });
}

void VirtualLineServer::handleClient(int fd)
{
    const std::optional<std::string> hello = receiveLineMessage(fd, 1000);
    if (!hello) {
        ::close(fd);
        return;
    }
    if (*hello == "PROBE") {
        std::lock_guard<std::mutex> lock(sendMutex_);
        dropDeadDesk();
        sendLineMessage(fd, desk_.load() >= 0 ? std::string("BUSY") : formatLevels(levels_.load()));
        ::close(fd);
        return;
    }
    if (*hello == "OPEN") {
        std::lock_guard<std::mutex> lock(sendMutex_);
        dropDeadDesk();
        if (desk_.load() >= 0) {
            sendLineMessage(fd, "BUSY");
            ::close(fd);
            tell("refused a second desk");
            return;
        }
        sendLineMessage(fd, formatLevels(levels_.load()));
        {
            std::lock_guard<std::mutex> deskLock(deskMutex_);
            desk_ = fd;
        }
        deskChanged_.notify_all();
        tell("desk attached");
        return;
    }
    if (hello->rfind("CMD ", 0) == 0) {
        std::string why;
        const std::optional<LineCommand> cmd = parseLineCommand(hello->substr(4), &why);
        if (cmd) {
            apply(*cmd);
            sendLineMessage(fd, "OK");
            tell(hello->substr(4) + " -> " + formatLevels(levels_.load()));
        } else {
            sendLineMessage(fd, "ERR " + why);
        }
        ::close(fd);
        return;
    }
    sendLineMessage(fd, "ERR unknown request");
    ::close(fd);
}

void VirtualLineServer::dropDeadDesk()
{
    // A desk that closed its end just before a new one connects is gone, not busy.
    const int d = desk_.load();
    if (d < 0)
        return;
    char c;
    const ssize_t n = ::recv(d, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        ::close(d);
        desk_ = -1;
        tell("desk detached");
    }
}

void VirtualLineServer::run()
{
    while (running_) {
        const int d = desk_.load();
        pollfd fds[3] = {{listen_, POLLIN, 0}, {wake_, POLLIN, 0}, {d, POLLIN, 0}};
        const int r = ::poll(fds, d >= 0 ? 3 : 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (d >= 0 && fds[2].revents) {
            // The desk sends nothing after OPEN: readable means it went away.
            std::lock_guard<std::mutex> lock(sendMutex_);
            dropDeadDesk();
        }
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                handleClient(fd);
        }
    }
}

} // namespace platform
