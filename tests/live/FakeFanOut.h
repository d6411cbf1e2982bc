#pragma once
// A stand-in for a fan-out's publisher location, for the tests of the desk's publisher.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A publisher location on 127.0.0.1: reads each POST with its body and answers `status`, after
// `delayMs`; after every answer it ends the connection when `closeEach` is Announced (saying so in
// the answer, as nginx does after keepalive_requests) or Silent.
class FakeFanOut {
public:
    struct Message {
        int connection;
        std::string path, event, body;
    };
    std::atomic<int> status{201};
    std::atomic<int> delayMs{0};
    enum Close { Never, Announced, Silent };
    std::atomic<Close> closeEach{Never};
    std::string rawAnswer; // sent instead of an answer of its own, when given

    explicit FakeFanOut(int port = 0, std::string raw = {}) : rawAnswer(std::move(raw))
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(listen_, 16);
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~FakeFanOut()
    {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }
    int port() const { return port_; }
    std::vector<Message> messages() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    int connections() const { return connections_; }

private:
    void run()
    {
        int fd = -1;
        std::string in;
        while (!stop_) {
            pollfd p[2] = {{listen_, POLLIN, 0}, {fd, POLLIN, 0}};
            if (::poll(p, fd >= 0 ? 2 : 1, 20) <= 0)
                continue;
            if (p[0].revents & POLLIN) { // a new connection replaces the one before
                if (fd >= 0)
                    ::close(fd);
                fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                in.clear();
                ++connections_;
                continue;
            }
            char buffer[65536];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ::close(fd);
                fd = -1;
                continue;
            }
            in.append(buffer, static_cast<std::size_t>(n));
            for (;;) {
                const std::size_t head = in.find("\r\n\r\n");
                if (head == std::string::npos)
                    break;
                const std::size_t lengthAt = in.find("Content-Length: ");
                const std::size_t length = std::stoul(in.substr(lengthAt + 16));
                if (in.size() < head + 4 + length)
                    break;
                Message m;
                m.connection = connections_;
                m.path = in.substr(5, in.find(' ', 5) - 5);
                const std::size_t event = in.find("X-EventSource-Event: ");
                m.event = in.substr(event + 21, in.find("\r\n", event) - event - 21);
                m.body = in.substr(head + 4, length);
                in.erase(0, head + 4 + length);
                for (int waited = 0; waited < delayMs.load() && !stop_; waited += 5)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                const int s = status.load();
                if (s >= 200 && s < 300) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    messages_.push_back(m);
                }
                const std::string body = "queued messages: 1\n";
                const std::string answer = !rawAnswer.empty() ? rawAnswer : "HTTP/1.1 " + std::to_string(s) + (s < 300 ? " Created" : " Forbidden")
                                           + (closeEach == Announced ? "\r\nConnection: close" : "")
                                           + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
                ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
                if (closeEach != Never) {
                    ::close(fd);
                    fd = -1;
                    in.clear();
                    break;
                }
            }
        }
        if (fd >= 0)
            ::close(fd);
    }

    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::thread thread_;
};

// A port nobody listens on.
inline int closedPort()
{
    FakeFanOut f;
    return f.port();
}
