// The live view's web server. HTTP is parsed and answered by cpp-httplib; the connections are
// accepted here, so that the number served at once is bounded and a connection beyond the bound
// is answered 503 at once, without a thread.

#include "LiveServer.h"

#include "LivePages.h"
#include "LiveSnapshot.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace live {

namespace {

using SteadyClock = std::chrono::steady_clock;

// One published snapshot. Immutable once published.
struct Published {
    QByteArray json;
    std::string event; // the stream's message, made once for every stream
    std::uint32_t tick = 0;
    SteadyClock::time_point at;
    std::uint64_t version = 0;

    // The desk's tick counter now, from the tick at publishing and the time passed since.
    std::uint32_t tickNow() const
    {
        const auto passed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - at).count();
        return tick + static_cast<std::uint32_t>(passed);
    }
};

const char kRefusal[] = "HTTP/1.1 503 Service Unavailable\r\n"
                        "Content-Type: text/plain; charset=utf-8\r\n"
                        "Retry-After: 10\r\n"
                        "Connection: close\r\n"
                        "Content-Length: 23\r\n"
                        "\r\n"
                        "Zu viele Verbindungen.\n";

// Waits until fd is ready for `events`; false on time-out, error or hang-up.
bool waitFor(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0 && (p.revents & events) && !(p.revents & (POLLERR | POLLNVAL));
    }
}

// One accepted connection as cpp-httplib's stream: reads are buffered and bounded in bytes and
// time, writes wait at most the write time-out.
class ClientStream final : public httplib::Stream {
public:
    ClientStream(int fd, const ServerOptions &o)
        : fd_(fd), readTimeoutMs_(o.readTimeoutMs), writeTimeoutMs_(o.writeTimeoutMs),
          budget_(static_cast<std::size_t>(o.maxRequestBytes)),
          deadline_(SteadyClock::now() + std::chrono::milliseconds(o.readTimeoutMs))
    {
    }

    bool is_readable() const override { return pos_ < len_ || waitFor(fd_, POLLIN, remainingMs()); }

    // Writable and the client still there: a client that has closed its end is dropped here.
    bool is_writable() const override
    {
        if (!waitFor(fd_, POLLOUT, writeTimeoutMs_))
            return false;
        pollfd p{fd_, POLLIN | POLLRDHUP, 0};
        if (::poll(&p, 1, 0) > 0) {
            if (p.revents & (POLLRDHUP | POLLHUP | POLLERR))
                return false;
            char c;
            if ((p.revents & POLLIN) && ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
                return false;
        }
        return true;
    }

    ssize_t read(char *ptr, size_t size) override
    {
        if (pos_ == len_) {
            if (budget_ == 0 || !waitFor(fd_, POLLIN, remainingMs()))
                return -1;
            const ssize_t n = ::recv(fd_, buffer_, std::min(sizeof buffer_, budget_), MSG_DONTWAIT);
            if (n <= 0)
                return n < 0 ? -1 : 0;
            budget_ -= static_cast<std::size_t>(n);
            pos_ = 0;
            len_ = static_cast<std::size_t>(n);
        }
        const std::size_t n = std::min(size, len_ - pos_);
        std::memcpy(ptr, buffer_ + pos_, n);
        pos_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        for (;;) {
            if (!waitFor(fd_, POLLOUT, writeTimeoutMs_))
                return -1;
            const ssize_t n = ::send(fd_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0)
                return n;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return -1;
        }
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { address(true, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { address(false, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    int remainingMs() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - SteadyClock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, readTimeoutMs_));
    }

    void address(bool remote, std::string &ip, int &port) const
    {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        const int r = remote ? ::getpeername(fd_, reinterpret_cast<sockaddr *>(&a), &len)
                             : ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        if (r != 0)
            return;
        char host[NI_MAXHOST] = {};
        char serv[NI_MAXSERV] = {};
        if (::getnameinfo(reinterpret_cast<sockaddr *>(&a), len, host, sizeof host, serv, sizeof serv,
                          NI_NUMERICHOST | NI_NUMERICSERV)
            == 0) {
            ip = host;
            port = std::atoi(serv);
        }
    }

    int fd_;
    int readTimeoutMs_;
    int writeTimeoutMs_;
    std::size_t budget_;
    SteadyClock::time_point deadline_;
    char buffer_[4096];
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
};

// cpp-httplib's request handling, fed with the connections accepted here.
class HttpCore final : public httplib::Server {
public:
    bool serve(httplib::Stream &stream)
    {
        bool closed = false;
        return process_request(stream, true, closed, [](httplib::Request &) {});
    }
    // The chunked responses (the event streams) run while this holds the listening socket.
    void setListening(int fd) { svr_sock_ = fd; }
};

} // namespace

class LiveServer::Impl {
public:
    ServerOptions options;
    HttpCore http;
    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    int boundPort = 0;
    QString error;
    std::thread acceptThread;

    // The current snapshot. The streams wait for `epoch` to change: a publish, the ticker (twice
    // a second, so that a stream notices a client gone away) or the stop change it. Publishing
    // takes no lock a server thread could hold.
    std::atomic<std::shared_ptr<const Published>> current;
    std::uint64_t version = 0; // UI thread only
    std::atomic<std::uint32_t> epoch{0};
    std::atomic<bool> stopping{false};
    std::thread ticker;
    std::mutex tickerMutex;
    std::condition_variable tickerWake;

    void nextEpoch()
    {
        epoch.fetch_add(1);
        epoch.notify_all();
    }

    // Connections: the workers, the queue of accepted connections and the open sockets.
    std::mutex workMutex;
    std::condition_variable workAvailable;
    std::deque<int> queue;
    std::vector<std::thread> workers;
    int idleWorkers = 0;
    bool workersStop = false;
    std::set<int> openSockets;
    std::atomic<int> connections{0};
    std::atomic<int> streams{0};

    std::shared_ptr<const Published> snapshot() { return current.load(); }

    void routes();
    bool listen();
    void acceptLoop();
    void worker();
    void refuse(int fd);
    void shutdown();
};

namespace {

void securityHeaders(httplib::Response &res)
{
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
}

} // namespace

void LiveServer::Impl::routes()
{
    http.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        if (req.method == "GET" || req.method == "HEAD")
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 405;
        res.set_header("Allow", "GET, HEAD");
        res.set_content("Nur Lesen (GET).\n", "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    });
    http.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty()) {
            res.set_content(res.status == 404 ? "Nicht gefunden.\n" : "Fehlerhafte Anfrage.\n",
                            "text/plain; charset=utf-8");
        }
    });
    http.set_payload_max_length(0);

    auto page = [this](Page which) {
        return [this, which](const httplib::Request &, httplib::Response &res) {
            const std::shared_ptr<const Published> p = snapshot();
            const QByteArray state = p ? withTick(p->json, p->tickNow()) : QByteArray("null");
            securityHeaders(res);
            res.set_header("Content-Security-Policy",
                           "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                           "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'");
            res.set_content(PageHtml(which, state), "text/html; charset=utf-8");
        };
    };
    http.Get("/", page(Page::Heat));
    http.Get("/anzeige", page(Page::Board));
    http.Get("/veranstaltung", page(Page::Meeting));

    http.Get("/api/state", [this](const httplib::Request &, httplib::Response &res) {
        securityHeaders(res);
        const std::shared_ptr<const Published> p = snapshot();
        if (!p) {
            res.status = 503;
            res.set_content("{}", "application/json");
            return;
        }
        const QByteArray json = withTick(p->json, p->tickNow());
        res.set_content(json.constData(), static_cast<std::size_t>(json.size()), "application/json; charset=utf-8");
    });

    http.Get("/events", [this](const httplib::Request &, httplib::Response &res) {
        securityHeaders(res);
        if (streams.fetch_add(1) >= options.maxStreams) {
            streams.fetch_sub(1);
            res.status = 503;
            res.set_header("Retry-After", "10");
            res.set_content("Zu viele Verbindungen.\n", "text/plain; charset=utf-8");
            return;
        }
        res.set_header("X-Accel-Buffering", "no");
        struct StreamState {
            std::uint64_t sent = 0; // version last sent, 0: none yet
            std::uint32_t epoch = 0;
            SteadyClock::time_point lastTick = SteadyClock::now();
        };
        auto st = std::make_shared<StreamState>();
        st->epoch = epoch.load() - 1; // the first call sends at once
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, st](std::size_t, httplib::DataSink &sink) {
                if (epoch.load() == st->epoch)
                    epoch.wait(st->epoch);
                st->epoch = epoch.load();
                if (stopping)
                    return false;
                std::shared_ptr<const Published> next = current.load();
                if (next && next->version == st->sent)
                    next.reset();
                std::string message;
                const auto now = SteadyClock::now();
                if (next) {
                    const bool first = st->sent == 0;
                    st->sent = next->version;
                    st->lastTick = now;
                    if (!first) // published just now: its tick is the desk's clock now
                        return sink.write(next->event.data(), next->event.size());
                    // A snapshot published a while ago goes out with the desk's clock of now.
                    const QByteArray json = withTick(next->json, next->tickNow());
                    message = "retry: 2000\ndata: ";
                    message.append(json.constData(), static_cast<std::size_t>(json.size()));
                    message += "\n\n";
                } else if (now - st->lastTick >= std::chrono::milliseconds(options.tickIntervalMs)) {
                    // The desk's clock for the page's running times, also when nothing changes.
                    if (const std::shared_ptr<const Published> p = snapshot()) {
                        message = "event: tick\ndata: " + std::to_string(p->tickNow()) + "\n\n";
                        st->lastTick = now;
                    }
                }
                if (message.empty()) // still there? A client gone away frees its place here.
                    return !sink.is_writable || sink.is_writable();
                return sink.write(message.data(), message.size());
            },
            [this](bool) { streams.fetch_sub(1); });
    });
}

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
    int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
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

void LiveServer::Impl::refuse(int fd)
{
    char drain[4096];
    while (::recv(fd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
    }
    [[maybe_unused]] const ssize_t n = ::send(fd, kRefusal, sizeof kRefusal - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

void LiveServer::Impl::acceptLoop()
{
    const int limit = options.maxStreams + options.spareConnections;
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        if (connections.load() >= limit) {
            refuse(fd);
            continue;
        }
        connections.fetch_add(1);
        std::lock_guard<std::mutex> lock(workMutex);
        openSockets.insert(fd);
        queue.push_back(fd);
        if (idleWorkers == 0 && static_cast<int>(workers.size()) < limit)
            workers.emplace_back([this] { worker(); });
        workAvailable.notify_one();
    }
}

void LiveServer::Impl::worker()
{
    for (;;) {
        int fd;
        bool serve;
        {
            std::unique_lock<std::mutex> lock(workMutex);
            ++idleWorkers;
            workAvailable.wait(lock, [this] { return workersStop || !queue.empty(); });
            --idleWorkers;
            if (queue.empty())
                return;
            fd = queue.front();
            queue.pop_front();
            serve = !workersStop;
        }
        if (serve) {
            ClientStream stream(fd, options);
            http.serve(stream);
        }
        {
            std::lock_guard<std::mutex> lock(workMutex);
            openSockets.erase(fd);
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
        connections.fetch_sub(1);
    }
}

void LiveServer::Impl::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(tickerMutex);
        stopping = true;
    }
    tickerWake.notify_all();
    if (ticker.joinable())
        ticker.join();
    nextEpoch();
    http.setListening(INVALID_SOCKET);
    if (acceptThread.joinable()) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &wake, 1);
        acceptThread.join();
    }
    {
        std::lock_guard<std::mutex> lock(workMutex);
        workersStop = true;
        // Wakes every worker waiting on a client, in a read or a write.
        for (const int fd : openSockets)
            ::shutdown(fd, SHUT_RDWR);
    }
    workAvailable.notify_all();
    for (std::thread &t : workers)
        t.join();
    workers.clear();
    for (int *fd : {&listenFd, &wakePipe[0], &wakePipe[1]}) {
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
    if (d->acceptThread.joinable() || d->stopping)
        return false;
    d->options = options;
    if (!d->listen())
        return false;
    if (::pipe2(d->wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        d->error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(d->listenFd);
        d->listenFd = -1;
        return false;
    }
    d->routes();
    d->http.setListening(d->listenFd);
    d->acceptThread = std::thread([this] { d->acceptLoop(); });
    d->ticker = std::thread([this] {
        std::unique_lock<std::mutex> lock(d->tickerMutex);
        while (!d->tickerWake.wait_for(lock, std::chrono::milliseconds(500), [this] { return d->stopping.load(); }))
            d->nextEpoch();
    });
    return true;
}

void LiveServer::stop()
{
    if (!d->acceptThread.joinable())
        return;
    d->shutdown();
}

bool LiveServer::isRunning() const
{
    return d->acceptThread.joinable();
}

int LiveServer::port() const
{
    return d->boundPort;
}

QString LiveServer::errorText() const
{
    return d->error;
}

void LiveServer::publish(const QByteArray &json, std::uint32_t tick)
{
    auto p = std::make_shared<Published>();
    p->json = json;
    p->tick = tick;
    p->at = SteadyClock::now();
    const QByteArray event = withTick(json, tick);
    p->event.reserve(static_cast<std::size_t>(event.size()) + 8);
    p->event += "data: ";
    p->event.append(event.constData(), static_cast<std::size_t>(event.size()));
    p->event += "\n\n";
    p->version = ++d->version;
    d->current.store(std::move(p));
    d->nextEpoch();
}

int LiveServer::streamCount() const
{
    return d->streams.load();
}

int LiveServer::connectionCount() const
{
    return d->connections.load();
}

} // namespace live
