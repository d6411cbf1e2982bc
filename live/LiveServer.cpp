// The live view's web server: one thread, one epoll loop for the listening socket, every
// connection and the desk's wake-up. Requests are read and answered in LiveHttp; here are the
// sockets, the limits and the fan-out of snapshots to the event streams.
//
// Memory stays bounded whatever the clients do: a client has at most maxRequestBytes received and
// not yet answered, an answer is one page, and an event stream holds at most the one event it is
// writing, shared by every stream. The stream carries the heat and the meeting as events of their
// own, each sent when it changes: a stream that is still writing when newer snapshots come skips
// the ones between, as each event is its part's whole state. A client that has not taken an
// answer or an event within writeTimeoutMs has fallen behind and is dropped; one that sends more
// than one request head ahead of its answers, or anything on its event stream, is dropped at once,
// so that it never keeps the loop from the others.

#include "LiveServer.h"

#include "LiveHttp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <vector>

namespace live {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Message = std::shared_ptr<const std::string>;

struct Connection {
    enum class Phase { Request, Answer, Stream };
    int fd = -1;
    std::string address; // the client's address as bytes: the key of the count per address; empty:
                         // not counted (a trusted proxy's connection, until a request names its client)
    bool viaProxy = false; // from a trusted proxy: its requests' X-Forwarded-For names the client
    Phase phase = Phase::Request;
    std::string in;          // received bytes not yet answered
    std::size_t scanned = 0; // bytes of `in` already looked through for the end of a head
    bool ended = false;      // the client has closed its side
    Message out;             // the answer or event being written
    std::size_t offset = 0;
    bool closeAfter = false;
    std::uint64_t sentHeat = 0;        // a stream's last heat and meeting sent (their versions), 0: none
    std::uint64_t sentMeeting = 0;
    SteadyClock::time_point requestBy; // the next request must be complete by then
    SteadyClock::time_point outSince;  // `out` was queued then; it must be taken within writeTimeoutMs
    bool closed = false;
    bool waiting = false; // has answers to give on the loop's next turn
};

char listenTag;
char wakeTag;

// The client address of an accepted socket: 4 bytes for IPv4 (also when mapped into IPv6), else 16.
std::string addressKey(const sockaddr_storage &a)
{
    if (a.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(a);
        return std::string(reinterpret_cast<const char *>(&v4.sin_addr), 4);
    }
    if (a.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(a);
        const auto *bytes = reinterpret_cast<const char *>(&v6.sin6_addr);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
            return std::string(bytes + 12, 4);
        return std::string(bytes, 16);
    }
    return {};
}

std::string_view trimmedSpace(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

int millisUntil(SteadyClock::time_point t, SteadyClock::time_point now)
{
    if (t <= now)
        return 0;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - now).count() + 1;
    return static_cast<int>(std::min<long long>(ms, 60000));
}

} // namespace

std::string AddressBytes(std::string_view text)
{
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() > 45)
        return {};
    const std::string z(text);
    in_addr v4{};
    if (::inet_pton(AF_INET, z.c_str(), &v4) == 1)
        return std::string(reinterpret_cast<const char *>(&v4), 4);
    in6_addr v6{};
    if (::inet_pton(AF_INET6, z.c_str(), &v6) == 1) {
        const auto *bytes = reinterpret_cast<const char *>(&v6);
        return IN6_IS_ADDR_V4MAPPED(&v6) ? std::string(bytes + 12, 4) : std::string(bytes, 16);
    }
    return {};
}

std::string ForwardedClient(std::string_view forwardedFor, const std::vector<std::string> &trusted)
{
    // The proxy appends the address it was connected from; what stands left of it came from the
    // client and may be made up. So the list is read from the right, past the trusted proxies.
    while (!forwardedFor.empty()) {
        const std::size_t comma = forwardedFor.rfind(',');
        const std::string_view entry =
            trimmedSpace(comma == std::string_view::npos ? forwardedFor : forwardedFor.substr(comma + 1));
        forwardedFor = comma == std::string_view::npos ? std::string_view() : forwardedFor.substr(0, comma);
        if (entry.empty())
            continue;
        std::string key = AddressBytes(entry);
        if (key.empty()) // "unknown", an obfuscated name: a client of its own, by its text
            return "?" + std::string(entry.substr(0, 64));
        if (std::find(trusted.begin(), trusted.end(), key) == trusted.end())
            return key;
    }
    return {};
}

class LiveServer::Impl {
public:
    ServerOptions options;
    int listenFd = -1;
    int epollFd = -1;
    int wakeFd = -1;
    int boundPort = 0;
    QString error;
    std::thread loopThread;
    std::atomic<bool> stopping{false};

    // The current snapshot: written by the UI thread, read by the loop.
    std::atomic<std::shared_ptr<const Published>> current;
    std::uint64_t publications = 0; // UI thread only
    std::atomic<int> connectionsOpen{0};
    std::atomic<int> streamsOpen{0};

    // The loop's own.
    std::vector<std::unique_ptr<Connection>> connections;
    std::unordered_map<std::string, int> perAddress;
    std::vector<std::string> trusted; // the trusted proxies' addresses as bytes
    std::shared_ptr<const Published> latest; // the snapshot the streams are sent
    Message latestHeat;                      // its events, made once for every stream
    Message latestMeeting;
    SteadyClock::time_point now;
    SteadyClock::time_point nextTick;
    SteadyClock::time_point acceptAgainAt{};
    bool acceptPaused = false;
    // Connections with requests still to answer: one client's pipelined requests get a turn each
    // time round the loop, not the loop to themselves.
    std::vector<Connection *> waiting;

    bool listen();
    void loop();
    int timeoutMs() const;
    void acceptClients();
    void refuse(int fd);
    bool readInput(Connection &c);
    void receive(Connection &c);
    void pump(Connection &c);
    bool write(Connection &c);
    bool answerNext(Connection &c);
    void fanOut();
    void tick();
    void expire();
    bool countFor(Connection &c, const std::string &client);
    void close(Connection &c);
    void shutdown();
};

bool LiveServer::Impl::listen()
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string port = std::to_string(options.port);
    const std::string host = options.bind.empty() ? std::string("0.0.0.0") : options.bind;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
        error = QStringLiteral("Adresse %1 ungültig").arg(QString::fromStdString(host));
        return false;
    }
    int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, found->ai_protocol);
    if (fd >= 0) {
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 128) != 0) {
            error = errno == EADDRINUSE ? QStringLiteral("Port %1 belegt").arg(options.port)
                                        : QStringLiteral("Port %1: %2").arg(options.port).arg(QString::fromLocal8Bit(std::strerror(errno)));
            ::close(fd);
            fd = -1;
        }
    } else {
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        return false;

    sockaddr_storage a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    boundPort = a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in *>(&a)->sin_port);
    listenFd = fd;
    return true;
}

int LiveServer::Impl::timeoutMs() const
{
    SteadyClock::time_point next = SteadyClock::time_point::max();
    if (!waiting.empty())
        return 0;
    if (streamsOpen.load() > 0 && latest)
        next = nextTick;
    if (acceptPaused)
        next = std::min(next, acceptAgainAt);
    const auto write = std::chrono::milliseconds(options.writeTimeoutMs);
    for (const auto &c : connections) {
        if (c->out)
            next = std::min(next, c->outSince + write);
        else if (c->phase == Connection::Phase::Request)
            next = std::min(next, c->requestBy);
    }
    return next == SteadyClock::time_point::max() ? -1 : millisUntil(next, SteadyClock::now());
}

void LiveServer::Impl::loop()
{
    epoll_event events[64];
    nextTick = SteadyClock::now() + std::chrono::milliseconds(options.tickIntervalMs);
    while (!stopping.load()) {
        const int n = ::epoll_wait(epollFd, events, 64, timeoutMs());
        if (n < 0 && errno != EINTR)
            break;
        now = SteadyClock::now();
        bool published = false;
        for (int i = 0; i < n; ++i) {
            void *tag = events[i].data.ptr;
            if (tag == &listenTag) {
                acceptClients();
            } else if (tag == &wakeTag) {
                std::uint64_t count;
                [[maybe_unused]] const ssize_t r = ::read(wakeFd, &count, sizeof count);
                published = true;
            } else {
                auto &c = *static_cast<Connection *>(tag);
                if (!c.closed && (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)))
                    receive(c);
                if (!c.closed && (events[i].events & EPOLLOUT))
                    pump(c);
            }
        }
        if (stopping.load())
            break;
        std::vector<Connection *> turn;
        turn.swap(waiting);
        for (Connection *c : turn) {
            c->waiting = false;
            pump(*c);
        }
        if (published)
            fanOut();
        if (now >= nextTick)
            tick();
        expire();
        if (acceptPaused && now >= acceptAgainAt) {
            epoll_event e{EPOLLIN, {.ptr = &listenTag}};
            if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd, &e) == 0)
                acceptPaused = false;
        }
        std::erase_if(waiting, [](const Connection *c) { return c->closed; });
        std::erase_if(connections, [](const std::unique_ptr<Connection> &c) { return c->closed; });
    }
}

void LiveServer::Impl::refuse(int fd)
{
    char drain[4096];
    while (::recv(fd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
    }
    const std::string refusal = RefusalAnswer();
    [[maybe_unused]] const ssize_t n = ::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

void LiveServer::Impl::acceptClients()
{
    const int limit = options.maxStreams + options.spareConnections;
    for (;;) {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr *>(&a), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: listening pauses briefly instead of spinning on the backlog.
                ::epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
                acceptPaused = true;
                acceptAgainAt = now + std::chrono::milliseconds(100);
            }
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        std::string address = addressKey(a);
        const bool viaProxy = std::find(trusted.begin(), trusted.end(), address) != trusted.end();
        if (viaProxy)
            address.clear(); // counted for the client its requests name
        if (connectionsOpen.load() >= limit) {
            refuse(fd);
            continue;
        }
        // One address never takes every place: a phone or a script gone wrong locks no one else out.
        if (!viaProxy) {
            const auto at = perAddress.find(address);
            if (at != perAddress.end() && at->second >= options.maxPerAddress) {
                refuse(fd);
                continue;
            }
        }
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->address = address;
        c->viaProxy = viaProxy;
        c->requestBy = now + std::chrono::milliseconds(options.readTimeoutMs);
        epoll_event e{EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET, {.ptr = c.get()}};
        if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &e) != 0) {
            ::close(fd);
            continue;
        }
        if (!viaProxy)
            ++perAddress[address];
        connectionsOpen.fetch_add(1);
        connections.push_back(std::move(c));
    }
}

bool LiveServer::Impl::readInput(Connection &c)
{
    char buffer[16384];
    const std::size_t limit = static_cast<std::size_t>(options.maxRequestBytes);
    for (;;) {
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            // A stream's client has nothing more to say, and no client needs more than one request
            // head waiting: one that sends on is flooding the desk.
            if (c.phase == Connection::Phase::Stream || c.in.size() + static_cast<std::size_t>(n) > limit) {
                // A head too long for the limit is told so, as far as the socket takes it at once.
                if (c.phase == Connection::Phase::Request && !c.out && HeadEnd(c.in, 0) == std::string::npos) {
                    const std::string refusal = TooLargeAnswer();
                    [[maybe_unused]] const ssize_t sent =
                        ::send(c.fd, refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                }
                close(c);
                return false;
            }
            c.in.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        // Closed by the client, or broken: a stream, or a connection with nothing left to answer, ends.
        c.ended = true;
        if (c.phase == Connection::Phase::Stream || n < 0) {
            close(c);
            return false;
        }
        return true;
    }
}

void LiveServer::Impl::receive(Connection &c)
{
    if (readInput(c))
        pump(c);
}

bool LiveServer::Impl::answerNext(Connection &c)
{
    const std::size_t limit = static_cast<std::size_t>(options.maxRequestBytes);
    if (HeadEnd(c.in, c.scanned) == std::string::npos && c.in.size() < limit) {
        c.scanned = c.in.size();
        if (c.ended)
            close(c);
        return false;
    }
    const std::shared_ptr<const Published> state = current.load();
    HttpAnswer answer;
    if (!NextAnswer(c.in, limit, state.get(), answer))
        return false;
    c.scanned = 0;
    c.offset = 0;
    c.outSince = now;
    // A proxy's connection counts for the client the request names, as a direct one would.
    const bool overLimit = c.viaProxy && !countFor(c, ForwardedClient(answer.forwardedFor, trusted));
    if (overLimit || (answer.stream && streamsOpen.load() >= options.maxStreams)) {
        answer.bytes = RefusalAnswer();
        answer.stream = false;
        answer.close = true;
    }
    if (answer.stream) {
        if (!c.in.empty()) { // something sent after the stream's request
            close(c);
            return false;
        }
        c.phase = Connection::Phase::Stream;
        c.in.shrink_to_fit();
        streamsOpen.fetch_add(1);
        if (state) {
            // The heat published a while ago goes out with the desk's clock of now; the meeting,
            // shared by every stream, follows as the stream's next event.
            answer.bytes += HeatEvent(*state, state->tickNow(), true);
            c.sentHeat = state->heatVersion;
        }
    } else {
        c.phase = Connection::Phase::Answer;
        c.closeAfter = answer.close;
    }
    c.out = std::make_shared<const std::string>(std::move(answer.bytes));
    return true;
}

bool LiveServer::Impl::write(Connection &c)
{
    while (c.offset < c.out->size()) {
        const ssize_t n = ::send(c.fd, c.out->data() + c.offset, c.out->size() - c.offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.offset += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false; // the rest when the socket takes more
        close(c);
        return false;
    }
    c.out.reset();
    c.offset = 0;
    return true;
}

void LiveServer::Impl::pump(Connection &c)
{
    int answered = 0;
    while (!c.closed) {
        if (c.out && !write(c))
            return;
        switch (c.phase) {
        case Connection::Phase::Stream: {
            if (!latest)
                return;
            // Its first event may be newer already than the loop's latest snapshot.
            const bool heatDue = latest->heatVersion > c.sentHeat;
            const bool meetingDue = latest->meetingVersion > c.sentMeeting;
            if (!heatDue && !meetingDue)
                return;
            // The part that changed first goes first; after an entered heat, the heat before the meeting.
            if (heatDue && (!meetingDue || latest->heatVersion <= latest->meetingVersion)) {
                c.sentHeat = latest->heatVersion;
                c.out = latestHeat;
            } else {
                c.sentMeeting = latest->meetingVersion;
                c.out = latestMeeting;
            }
            c.outSince = now;
            break;
        }
        case Connection::Phase::Answer:
            if (c.closeAfter) {
                close(c);
                return;
            }
            c.phase = Connection::Phase::Request;
            c.requestBy = now + std::chrono::milliseconds(options.readTimeoutMs);
            break;
        case Connection::Phase::Request:
            if (answered == 8) {
                if (!c.waiting) {
                    c.waiting = true;
                    waiting.push_back(&c);
                }
                return;
            }
            if (!answerNext(c))
                return;
            ++answered;
            break;
        }
    }
}

void LiveServer::Impl::fanOut()
{
    std::shared_ptr<const Published> p = current.load();
    if (!p || p == latest)
        return;
    // Made once for every stream: published just now, the heat's tick is the desk's clock now.
    if (!latest || p->heatVersion != latest->heatVersion)
        latestHeat = std::make_shared<const std::string>(HeatEvent(*p, p->tick, false));
    if (!latest || p->meetingVersion != latest->meetingVersion)
        latestMeeting = std::make_shared<const std::string>(MeetingEvent(*p));
    latest = std::move(p);
    for (const auto &c : connections)
        if (c->phase == Connection::Phase::Stream && !c->out)
            pump(*c);
}

void LiveServer::Impl::tick()
{
    nextTick = now + std::chrono::milliseconds(options.tickIntervalMs);
    if (!latest)
        return;
    // The desk's clock for the pages' running times, also when nothing changes.
    const Message event = std::make_shared<const std::string>(TickEvent(latest->tickNow()));
    for (const auto &c : connections) {
        if (c->phase != Connection::Phase::Stream || c->out || c->closed)
            continue;
        c->out = event;
        c->outSince = now;
        pump(*c);
    }
}

void LiveServer::Impl::expire()
{
    const auto write = std::chrono::milliseconds(options.writeTimeoutMs);
    for (const auto &c : connections) {
        if (c->closed)
            continue;
        if (c->out ? now - c->outSince >= write
                   : c->phase == Connection::Phase::Request && now >= c->requestBy)
            close(*c);
    }
}

// Moves a proxy's connection to the count of `client` (empty: no count); false when that client
// has all its connections already.
bool LiveServer::Impl::countFor(Connection &c, const std::string &client)
{
    if (client == c.address)
        return true;
    if (!c.address.empty()) {
        const auto at = perAddress.find(c.address);
        if (at != perAddress.end() && --at->second <= 0)
            perAddress.erase(at);
        c.address.clear();
    }
    if (client.empty())
        return true;
    int &fromThere = perAddress[client];
    if (fromThere >= options.maxPerAddress)
        return false;
    ++fromThere;
    c.address = client;
    return true;
}

void LiveServer::Impl::close(Connection &c)
{
    if (c.closed)
        return;
    c.closed = true;
    c.out.reset();
    ::close(c.fd);
    if (c.phase == Connection::Phase::Stream)
        streamsOpen.fetch_sub(1);
    connectionsOpen.fetch_sub(1);
    if (c.address.empty())
        return;
    const auto at = perAddress.find(c.address);
    if (at != perAddress.end() && --at->second <= 0)
        perAddress.erase(at);
}

void LiveServer::Impl::shutdown()
{
    stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    loopThread.join();
    for (const auto &c : connections)
        close(*c);
    connections.clear();
    for (int *fd : {&listenFd, &epollFd, &wakeFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

// ---------------------------------------------------------------------------------------------

LiveServer::LiveServer() : d(std::make_unique<Impl>()) {}

LiveServer::~LiveServer()
{
    stop();
}

bool LiveServer::start(const ServerOptions &options)
{
    if (d->loopThread.joinable() || d->stopping)
        return false;
    d->options = options;
    d->trusted.clear();
    for (const std::string &proxy : options.trustedProxies) {
        const std::string key = AddressBytes(trimmedSpace(proxy));
        if (key.empty()) {
            d->error = QStringLiteral("Proxy-Adresse %1 ungültig").arg(QString::fromStdString(proxy));
            return false;
        }
        d->trusted.push_back(key);
    }
    if (!d->listen())
        return false;
    d->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    d->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event listening{EPOLLIN, {.ptr = &listenTag}};
    epoll_event wake{EPOLLIN, {.ptr = &wakeTag}};
    if (d->epollFd < 0 || d->wakeFd < 0 || ::epoll_ctl(d->epollFd, EPOLL_CTL_ADD, d->listenFd, &listening) != 0
        || ::epoll_ctl(d->epollFd, EPOLL_CTL_ADD, d->wakeFd, &wake) != 0) {
        d->error = QString::fromLocal8Bit(std::strerror(errno));
        for (int *fd : {&d->listenFd, &d->epollFd, &d->wakeFd}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
        return false;
    }
    d->loopThread = std::thread([this] { d->loop(); });
    return true;
}

void LiveServer::stop()
{
    if (!d->loopThread.joinable())
        return;
    d->shutdown();
}

bool LiveServer::isRunning() const
{
    return d->loopThread.joinable();
}

int LiveServer::port() const
{
    return d->boundPort;
}

QString LiveServer::errorText() const
{
    return d->error;
}

void LiveServer::publish(const QByteArray &heat, const QByteArray &meeting, std::uint32_t tick)
{
    const std::shared_ptr<const Published> before = d->current.load();
    d->current.store(Published::next(before.get(), heat, meeting, tick, ++d->publications));
    if (d->wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(d->wakeFd, &one, sizeof one);
    }
}

int LiveServer::streamCount() const
{
    return d->streamsOpen.load();
}

int LiveServer::connectionCount() const
{
    return d->connectionsOpen.load();
}

} // namespace live
