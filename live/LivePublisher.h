#pragma once
// The desk's side of a fan-out for many readers (nginx with its nchan module in front of the
// stands): every snapshot the desk publishes is handed on to a publisher location over one
// kept-alive HTTP/1.1 connection, as the same events the desk's own stream sends ("heat",
// "meeting", "tick"), each POSTed to the location's sub-path of that name with its event type in
// X-EventSource-Event.
//
// A thread of its own does all the talking. The desk only swaps in its newest snapshot (a pointer
// store and a wake-up, no lock it could wait on and no I/O); whatever the fan-out does - down,
// slow, refusing - costs the race nothing. Like the desk's own server the publisher coalesces:
// it sends the newest state of each part whenever it is free to, the whole state on every
// (re)connection, so that a freshly started fan-out has the newest state at once. A fan-out that
// cannot be reached is tried again after a pause that doubles from backoffMinMs to backoffMaxMs.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace live {

// "http://HOST[:PORT]/PATH": HOST an IPv4 address, an IPv6 address in brackets or "localhost" (no
// name is looked up, so that no lookup can hold the publisher up); PORT 80 when not given.
struct PublisherUrl {
    std::string host; // the address as written, without brackets
    int port = 80;
    std::string path; // without a trailing slash; "" for the root
    bool operator==(const PublisherUrl &) const = default;
};
std::optional<PublisherUrl> ParsePublisherUrl(const QString &url);

struct PublisherOptions {
    int backoffMinMs = 500;    // the first pause after a failure
    int backoffMaxMs = 10000;  // the longest pause
    int tickIntervalMs = 1000; // the desk's clock is sent at least this often
    int ioTimeoutMs = 5000;    // a connection, and each answer, must come within this time
};

class LivePublisher {
public:
    enum class State {
        Connecting,  // not yet through with its first attempt
        Connected,   // the fan-out took the last message
        Unreachable, // the last attempt failed (problem() tells why); the next comes after a pause
    };

    explicit LivePublisher(const PublisherUrl &url, const PublisherOptions &options = {});
    ~LivePublisher(); // stops at once, whatever the thread is waiting for
    LivePublisher(const LivePublisher &) = delete;
    LivePublisher &operator=(const LivePublisher &) = delete;

    // Called on the publisher's thread whenever state() or problem() changes. Set before start().
    void setStateListener(std::function<void()> listener);
    void start();

    // The desk's newest snapshot in its two parts (as LiveServer::publish takes it), taken when the
    // desk's tick counter read `tick`. Never waits.
    void publish(const QByteArray &heat, const QByteArray &meeting, std::uint32_t tick);

    State state() const;
    QString problem() const; // the last failure in German, empty while all is well
    const PublisherUrl &url() const;
    std::uint64_t messagesTaken() const; // messages the fan-out has accepted
    int connectionsMade() const;         // connections opened to the fan-out

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

} // namespace live
