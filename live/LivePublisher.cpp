// The publisher to an outside fan-out: one thread, one kept-alive HTTP/1.1 connection, all of its
// waits on poll() together with a wake-up descriptor, so that stopping never waits for the network.

#include "LivePublisher.h"

#include "LiveHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace live {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxAnswerHead = 16384;
constexpr std::size_t kMaxAnswerBody = 1 << 20;

bool startsWithIgnoringCase(const std::string &text, const char *prefix)
{
    const std::size_t n = std::strlen(prefix);
    if (text.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

int millisUntil(Clock::time_point t)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left + 1, 0, 60000));
}

} // namespace

std::optional<PublisherUrl> ParsePublisherUrl(const QString &text)
{
    const QString url = text.trimmed();
    if (!url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        return std::nullopt;
    const std::string rest = url.mid(7).toStdString();
    for (const char c : rest)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '?' || c == '#' || c == '@')
            return std::nullopt;
    const std::size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    PublisherUrl u;
    u.path = slash == std::string::npos ? std::string() : rest.substr(slash);
    while (!u.path.empty() && u.path.back() == '/')
        u.path.pop_back();
    std::string port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        u.host = authority.substr(1, close - 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            return std::nullopt;
        port = after.empty() ? std::string() : after.substr(1);
        in6_addr v6{};
        if (::inet_pton(AF_INET6, u.host.c_str(), &v6) != 1)
            return std::nullopt;
    } else {
        const std::size_t colon = authority.find(':');
        u.host = authority.substr(0, colon);
        port = colon == std::string::npos ? std::string() : authority.substr(colon + 1);
        if (colon != std::string::npos && port.empty())
            return std::nullopt;
        in_addr v4{};
        if (u.host != "localhost" && ::inet_pton(AF_INET, u.host.c_str(), &v4) != 1)
            return std::nullopt;
    }
    if (!port.empty()) {
        if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        u.port = std::stoi(port);
        if (u.port < 1 || u.port > 65535)
            return std::nullopt;
    }
    return u;
}

class LivePublisher::Impl {
public:
    enum class Outcome { Taken, Failed, Dropped };

    PublisherUrl url;
    PublisherOptions options;
    sockaddr_storage target{};
    socklen_t targetLength = 0;
    std::string requestPrefix; // "POST /path/" 
    std::string hostHeader;

    std::atomic<std::shared_ptr<const Published>> current;
    std::uint64_t publications = 0; // the desk's thread only
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::function<void()> listener;

    std::atomic<State> state{State::Connecting};
    mutable std::mutex problemMutex;
    QString problem;
    std::atomic<std::uint64_t> taken{0};
    std::atomic<int> connections{0};

    // The thread's own.
    int fd = -1;
    int requestsOnConnection = 0;
    bool endedByFanOut = false; // the fan-out ended the last connection after taking a message
    int droppedInARow = 0;      // connections found closed with no message taken on one used again
    std::uint64_t sentHeat = 0;
    std::uint64_t sentMeeting = 0;
    Clock::time_point nextTick{};
    QString failure; // why the last exchange failed

    void run();
    void report(State s, const QString &why);
    bool wait(int socket, short events, Clock::time_point until, bool wakeEnds);
    bool connectNow();
    void disconnect();
    Outcome sendAll(const std::string &bytes, Clock::time_point until);
    Outcome post(const char *channel, const std::string &body);
    Outcome readAnswer(Clock::time_point until, bool &closeAfter);
};

void LivePublisher::Impl::report(State s, const QString &why)
{
    if (stopping.load()) // a wait cut short by stopping is no failure of the fan-out
        return;
    bool changed = state.exchange(s) != s;
    {
        std::lock_guard<std::mutex> lock(problemMutex);
        if (problem != why) {
            problem = why;
            changed = true;
        }
    }
    if (changed && listener)
        listener();
}

// Waits until `socket` is ready for `events` (none: only the time or the wake-up), the time is up
// or the publisher stops; with `wakeEnds` a new snapshot ends the wait too. True when ready.
bool LivePublisher::Impl::wait(int socket, short events, Clock::time_point until, bool wakeEnds)
{
    for (;;) {
        if (stopping.load())
            return false;
        pollfd p[2] = {{wakeFd, POLLIN, 0}, {socket, events, 0}};
        const int timeout = until == Clock::time_point::max() ? -1 : millisUntil(until);
        const int n = ::poll(p, socket >= 0 ? 2 : 1, timeout);
        if (n < 0 && errno != EINTR)
            return false;
        if (n > 0 && (p[0].revents & POLLIN)) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t r = ::read(wakeFd, &count, sizeof count);
            if (stopping.load() || wakeEnds)
                return false;
        }
        if (socket >= 0 && n > 0 && p[1].revents)
            return true;
        if (until != Clock::time_point::max() && Clock::now() >= until)
            return false;
    }
}

bool LivePublisher::Impl::connectNow()
{
    const auto until = Clock::now() + std::chrono::milliseconds(options.ioTimeoutMs);
    fd = ::socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&target), targetLength) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            if (!wait(fd, POLLOUT, until, false)) {
                failure = QStringLiteral("keine Antwort");
                disconnect();
                return false;
            }
            socklen_t len = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
        }
    }
    if (error != 0) {
        failure = error == ECONNREFUSED ? QStringLiteral("Verbindung abgelehnt")
                                        : QString::fromLocal8Bit(std::strerror(error));
        disconnect();
        return false;
    }
    requestsOnConnection = 0;
    // A fan-out met anew may have been started anew: it is given the whole state, unless it ended
    // the connection itself after taking the last message.
    if (!endedByFanOut) {
        sentHeat = 0;
        sentMeeting = 0;
    }
    endedByFanOut = false;
    connections.fetch_add(1);
    return true;
}

void LivePublisher::Impl::disconnect()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Taken: all written; Dropped: the connection was found closed; Failed: the time ran out.
LivePublisher::Impl::Outcome LivePublisher::Impl::sendAll(const std::string &bytes, Clock::time_point until)
{
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            offset += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait(fd, POLLOUT, until, false)) {
                failure = QStringLiteral("keine Antwort");
                return Outcome::Failed;
            }
            continue;
        }
        failure = QStringLiteral("Verbindung getrennt");
        return Outcome::Dropped;
    }
    return Outcome::Taken;
}

// One message to the location of `channel`; Dropped when a connection used before was closed
// before it answered (a fan-out ends idle connections now and then), Failed for anything else.
LivePublisher::Impl::Outcome LivePublisher::Impl::post(const char *channel, const std::string &body)
{
    const auto until = Clock::now() + std::chrono::milliseconds(options.ioTimeoutMs);
    std::string request = requestPrefix;
    request += channel;
    request += " HTTP/1.1\r\nHost: ";
    request += hostHeader;
    request += "\r\nContent-Type: application/json\r\nX-EventSource-Event: ";
    request += channel;
    request += "\r\nContent-Length: ";
    request += std::to_string(body.size());
    request += "\r\n\r\n";
    request += body;
    const bool reused = requestsOnConnection > 0;
    ++requestsOnConnection;
    if (const Outcome sent = sendAll(request, until); sent != Outcome::Taken)
        return sent == Outcome::Dropped && reused ? Outcome::Dropped : Outcome::Failed;
    bool closeAfter = false;
    const Outcome answer = readAnswer(until, closeAfter);
    if (answer == Outcome::Dropped && !reused)
        return Outcome::Failed;
    if (answer == Outcome::Taken) {
        taken.fetch_add(1);
        if (reused)
            droppedInARow = 0;
        if (closeAfter) {
            disconnect();
            endedByFanOut = true;
        }
    }
    return answer;
}

LivePublisher::Impl::Outcome LivePublisher::Impl::readAnswer(Clock::time_point until, bool &closeAfter)
{
    std::string in;
    std::size_t headEnd = std::string::npos;
    std::size_t bodyNeeded = 0;
    bool chunked = false, untilClose = false;
    int status = 0;
    char buffer[16384];
    for (;;) {
        if (headEnd != std::string::npos) {
            const std::size_t have = in.size() - headEnd;
            if (!chunked && !untilClose && have >= bodyNeeded)
                break;
            if (chunked && in.find("\r\n0\r\n\r\n", headEnd > 2 ? headEnd - 2 : 0) != std::string::npos)
                break; // the answers of a publisher location carry no trailer
            if (have > kMaxAnswerBody) {
                failure = QStringLiteral("Antwort zu lang");
                return Outcome::Failed;
            }
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            in.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait(fd, POLLIN, until, false)) {
                failure = QStringLiteral("keine Antwort");
                return Outcome::Failed;
            }
            continue;
        } else {
            if (headEnd != std::string::npos && untilClose) {
                closeAfter = true;
                break;
            }
            failure = QStringLiteral("Verbindung getrennt");
            return in.empty() ? Outcome::Dropped : Outcome::Failed;
        }
        if (headEnd == std::string::npos) {
            const std::size_t end = in.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (in.size() > kMaxAnswerHead) {
                    failure = QStringLiteral("Antwort unverständlich");
                    return Outcome::Failed;
                }
                continue;
            }
            headEnd = end + 4;
            // "HTTP/1.1 201 Created", then the header fields.
            if (!startsWithIgnoringCase(in, "http/1.") || in.size() < 12 || in[8] != ' ') {
                failure = QStringLiteral("Antwort unverständlich");
                return Outcome::Failed;
            }
            status = std::atoi(in.c_str() + 9);
            bool lengthKnown = false;
            std::size_t lineStart = in.find("\r\n") + 2;
            while (lineStart < end) {
                const std::size_t lineEnd = in.find("\r\n", lineStart);
                std::string line = in.substr(lineStart, lineEnd - lineStart);
                lineStart = lineEnd + 2;
                std::transform(line.begin(), line.end(), line.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                const std::size_t colon = line.find(':');
                if (colon == std::string::npos)
                    continue;
                const std::string name = line.substr(0, colon);
                std::string value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(" \t"));
                if (name == "content-length") {
                    bodyNeeded = static_cast<std::size_t>(std::strtoull(value.c_str(), nullptr, 10));
                    lengthKnown = true;
                } else if (name == "transfer-encoding" && value.find("chunked") != std::string::npos) {
                    chunked = true;
                } else if (name == "connection" && value.find("close") != std::string::npos) {
                    closeAfter = true;
                }
            }
            const bool noBody = status == 204 || status == 304 || (status >= 100 && status < 200);
            untilClose = !noBody && !chunked && !lengthKnown;
            if (noBody)
                bodyNeeded = 0;
            if (bodyNeeded > kMaxAnswerBody) {
                failure = QStringLiteral("Antwort zu lang");
                return Outcome::Failed;
            }
        }
    }
    if (status < 200 || status > 299) {
        const std::size_t lineEnd = in.find("\r\n");
        failure = QStringLiteral("Antwort %1").arg(QString::fromLatin1(in.substr(9, lineEnd - 9)).trimmed());
        return Outcome::Failed;
    }
    return Outcome::Taken;
}

void LivePublisher::Impl::run()
{
    int pause = options.backoffMinMs;
    while (!stopping.load()) {
        const std::shared_ptr<const Published> p = current.load();
        if (!p) { // nothing to hand on yet
            wait(-1, 0, Clock::time_point::max(), true);
            continue;
        }
        if (fd < 0) {
            if (!connectNow()) {
                report(State::Unreachable, failure);
                wait(-1, 0, Clock::now() + std::chrono::milliseconds(pause), false);
                pause = std::min(pause * 2, options.backoffMaxMs);
                continue;
            }
        }
        const auto now = Clock::now();
        const bool heatDue = p->heatVersion != sentHeat;
        const bool meetingDue = p->meetingVersion != sentMeeting;
        if (!heatDue && !meetingDue && now < nextTick) {
            // Nothing to send: wait for the desk, the next tick, or the fan-out ending the connection.
            if (wait(fd, POLLIN, nextTick, true))
                disconnect(); // closed, or saying something unasked: a new connection when needed
            continue;
        }
        // The part that changed first goes first, as on the desk's own stream; the clock when
        // nothing else is due.
        Outcome outcome;
        bool clockSent = true; // the heat carries the desk's clock as well
        if (heatDue && (!meetingDue || p->heatVersion <= p->meetingVersion)) {
            outcome = post("heat", HeatData(*p, p->tickNow()));
            if (outcome == Outcome::Taken)
                sentHeat = p->heatVersion;
        } else if (meetingDue) {
            outcome = post("meeting", MeetingData(*p));
            clockSent = false;
            if (outcome == Outcome::Taken)
                sentMeeting = p->meetingVersion;
        } else {
            outcome = post("tick", std::to_string(p->tickNow()));
        }
        if (outcome == Outcome::Taken) {
            if (clockSent)
                nextTick = Clock::now() + std::chrono::milliseconds(options.tickIntervalMs);
            // Well again once the fan-out has the whole state: one that takes a message now and
            // then but never all of them is not.
            if (p->heatVersion == sentHeat && p->meetingVersion == sentMeeting) {
                pause = options.backoffMinMs;
                report(State::Connected, QString());
            }
            continue;
        }
        disconnect();
        // A connection used before and ended while idle: once more at once, on a new one; but not
        // over and over for a fan-out that ends every connection after one message.
        if (outcome == Outcome::Dropped && ++droppedInARow <= 1)
            continue;
        droppedInARow = 0;
        report(State::Unreachable, failure);
        wait(-1, 0, Clock::now() + std::chrono::milliseconds(pause), false);
        pause = std::min(pause * 2, options.backoffMaxMs);
    }
    disconnect();
}

// ---------------------------------------------------------------------------------------------

LivePublisher::LivePublisher(const PublisherUrl &url, const PublisherOptions &options) : d(std::make_unique<Impl>())
{
    d->url = url;
    d->options = options;
    d->requestPrefix = "POST " + url.path + "/";
    const bool v6 = url.host.find(':') != std::string::npos;
    d->hostHeader = v6 ? "[" + url.host + "]" : url.host;
    if (url.port != 80)
        d->hostHeader += ":" + std::to_string(url.port);
    if (v6) {
        auto &a = reinterpret_cast<sockaddr_in6 &>(d->target);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<std::uint16_t>(url.port));
        ::inet_pton(AF_INET6, url.host.c_str(), &a.sin6_addr);
        d->targetLength = sizeof a;
    } else {
        auto &a = reinterpret_cast<sockaddr_in &>(d->target);
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(url.port));
        if (url.host == "localhost" || ::inet_pton(AF_INET, url.host.c_str(), &a.sin_addr) != 1)
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        d->targetLength = sizeof a;
    }
    d->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

LivePublisher::~LivePublisher()
{
    d->stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(d->wakeFd, &one, sizeof one);
    if (d->thread.joinable())
        d->thread.join();
    if (d->wakeFd >= 0)
        ::close(d->wakeFd);
}

void LivePublisher::setStateListener(std::function<void()> listener)
{
    d->listener = std::move(listener);
}

void LivePublisher::start()
{
    if (!d->thread.joinable() && d->wakeFd >= 0)
        d->thread = std::thread([this] { d->run(); });
}

void LivePublisher::publish(const QByteArray &heat, const QByteArray &meeting, std::uint32_t tick)
{
    const std::shared_ptr<const Published> before = d->current.load();
    d->current.store(Published::next(before.get(), heat, meeting, tick, ++d->publications));
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(d->wakeFd, &one, sizeof one);
}

LivePublisher::State LivePublisher::state() const
{
    return d->state.load();
}

QString LivePublisher::problem() const
{
    std::lock_guard<std::mutex> lock(d->problemMutex);
    return d->problem;
}

const PublisherUrl &LivePublisher::url() const
{
    return d->url;
}

std::uint64_t LivePublisher::messagesTaken() const
{
    return d->taken.load();
}

int LivePublisher::connectionsMade() const
{
    return d->connections.load();
}

} // namespace live
