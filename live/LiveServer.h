#pragma once
// The web server of the live results view: a few fixed read-only pages, the current snapshot as
// JSON and a server-sent event stream of its two parts, the heat and the meeting. One thread of its own serves every connection
// from one epoll loop; the desk hands it finished snapshots through publish(), which never waits
// for a client.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace live {

struct ServerOptions {
    std::string bind = "0.0.0.0"; // an IPv4 or IPv6 address; "0.0.0.0" listens on every interface
    int port = 8080;              // 0 picks a free port
    int maxStreams = 64;          // event streams served at once; a further one is answered 503
    int spareConnections = 16;    // connections beyond the streams for pages and the JSON state
    int maxPerAddress = 8;        // connections of one client address; a further one is answered 503
    int readTimeoutMs = 5000;     // a request must arrive within this time
    int writeTimeoutMs = 5000;    // a client still taking an answer or event after this long is dropped
    int maxRequestBytes = 16384;  // request line and headers together; also the most a client may have
                                  // sent ahead of its answers before it is dropped
    int tickIntervalMs = 5000;    // the stream sends the desk's clock at least this often
    // Reverse proxies in front of the server (IPv4 or IPv6 addresses). Their connections are not
    // limited per address; the client their X-Forwarded-For names is, for each request. The header
    // of any other client is never read.
    std::vector<std::string> trustedProxies;
};

// The client a request from a trusted proxy is counted for: the last address of its X-Forwarded-For
// (`forwardedFor`) that is not itself one of `trusted` (address bytes, as the server keys clients).
// Empty when it names none: such a request is not limited per address. An entry that is no address
// is counted under its own text.
std::string ForwardedClient(std::string_view forwardedFor, const std::vector<std::string> &trusted);
// The bytes of an IPv4 or IPv6 address given as text (4 for IPv4, also when mapped into IPv6); empty
// when the text is no address.
std::string AddressBytes(std::string_view text);

class LiveServer {
public:
    LiveServer();
    ~LiveServer(); // stops the server
    LiveServer(const LiveServer &) = delete;
    LiveServer &operator=(const LiveServer &) = delete;

    // Binds and starts serving; false, with errorText(), when the address cannot be used.
    // A server starts once; to serve elsewhere, make a new one.
    bool start(const ServerOptions &options);
    void stop();
    bool isRunning() const;
    int port() const;
    QString errorText() const;

    // A new snapshot in its two parts, the JSON members of the heat on the desk and those of the
    // meeting (Snapshot::heatMembers, meetingMembers), taken when the desk's tick counter read
    // `tick`. Every stream sends each part that differs from the one published before promptly,
    // as an event of its own ("heat", "meeting"); the call itself only swaps a pointer and wakes
    // the server's loop. A meeting handed over again unchanged (the same shared bytes) costs no
    // comparison.
    void publish(const QByteArray &heat, const QByteArray &meeting, std::uint32_t tick);

    int streamCount() const;     // event streams open now
    int connectionCount() const; // connections being served now

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

} // namespace live
