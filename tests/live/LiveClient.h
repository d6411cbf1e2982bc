#pragma once
// A plain HTTP client for the live view's tests: a TCP connection to 127.0.0.1 whose answer is
// read by a thread of its own into a buffer, so the test's UI thread stays free to run the desk.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <algorithm>
#include <thread>

class LiveClient {
public:
    // Connects and sends a GET of `path` (with `extraHeaders`, each ending in CRLF). When `read`
    // is false the answer is never read, like a client that has stalled. `from`: the client's own
    // address in 127.0.0.0/8 (127.0.0.1 when 0), so that tests can play many hosts.
    LiveClient(int port, const std::string &path, bool read = true, const std::string &extraHeaders = {},
               int from = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (!read) {
            const int small = 4096;
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        if (from != 0) {
            sockaddr_in own{};
            own.sin_family = AF_INET;
            own.sin_addr.s_addr = htonl(0x7f000000u | static_cast<std::uint32_t>(from));
            ::bind(fd_, reinterpret_cast<sockaddr *>(&own), sizeof own);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        if (!path.empty()) // an empty path: a connection that never sends a request
            send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
        if (read)
            reader_ = std::thread([this] { readLoop(); });
    }
    ~LiveClient()
    {
        close();
        if (flooder_.joinable())
            flooder_.join();
        if (reader_.joinable())
            reader_.join();
        else
            ::close(fd_);
    }
    bool connected() const { return connected_; }
    void send(const std::string &data)
    {
        std::size_t off = 0;
        while (connected_ && off < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            off += static_cast<std::size_t>(n);
        }
    }
    void close()
    {
        if (!closed_.exchange(true))
            ::shutdown(fd_, SHUT_RDWR);
    }
    std::string text() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    bool contains(const std::string &part) const { return text().find(part) != std::string::npos; }
    bool ended() const { return ended_; }
    // The JSON of the last complete event of `type` ("heat", "meeting"), "" when none. Lines
    // between the type and the data (a fan-out's "id:") are passed over.
    std::string lastEvent(const std::string &type) const
    {
        const std::string t = text();
        const std::size_t start = t.rfind("event: " + type + "\n");
        if (start == std::string::npos)
            return {};
        const std::size_t end = t.find("\n\n", start);
        const std::size_t data = t.find("\ndata: ", start);
        if (end == std::string::npos || data == std::string::npos || data > end)
            return {};
        return t.substr(data + 7, end - data - 7);
    }
    std::string lastSnapshot() const { return lastEvent("heat"); } // the heat on the desk
    std::string lastMeeting() const { return lastEvent("meeting"); }
    int snapshotCount() const { return heats_; } // heat events received
    int meetingCount() const { return meetings_; }

    // Sends without end from a thread of its own, as a client gone wrong, until the connection fails.
    void flood()
    {
        flooder_ = std::thread([this] {
            const std::string junk(65536, 'x');
            while (::send(fd_, junk.data(), junk.size(), MSG_NOSIGNAL) > 0) {
            }
            flooded_ = true;
        });
    }
    bool floodEnded() const { return flooded_; }

private:
    void readLoop()
    {
        char buf[8192];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            std::lock_guard<std::mutex> lock(mutex_);
            text_.append(buf, static_cast<std::size_t>(n));
            // Each event is counted once it is complete (up to its empty line).
            for (std::size_t end = text_.find("\n\n", searched_); end != std::string::npos;
                 end = text_.find("\n\n", searched_)) {
                const std::string_view event(text_.data() + counted_, end - counted_);
                heats_ += event.find("event: heat\n") != std::string_view::npos;
                meetings_ += event.find("event: meeting\n") != std::string_view::npos;
                counted_ = searched_ = end + 2;
            }
            searched_ = std::max(searched_, text_.size() - 1);
            // A long stream keeps its beginning (the answer's head) and its recent events.
            if (counted_ > (8u << 20)) {
                const std::size_t cut = counted_ - 4096 - (1u << 20);
                text_.erase(4096, cut);
                counted_ -= cut;
                searched_ -= cut;
            }
        }
        ended_ = true;
        ::close(fd_);
    }

    int fd_ = -1;
    bool connected_ = false;
    std::atomic<bool> closed_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> heats_{0};
    std::atomic<int> meetings_{0};
    std::atomic<bool> flooded_{false};
    std::thread reader_;
    std::thread flooder_;
    mutable std::mutex mutex_;
    std::string text_;
    std::size_t counted_ = 0;  // the bytes of text_ up to the end of the last complete event
    std::size_t searched_ = 0; // the bytes of text_ looked through for the end of an event
};
