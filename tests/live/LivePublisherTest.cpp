// The publisher to a fan-out, against a stand-in publisher location that records what it is sent
// (nginx itself: tools/fanout-check.sh): its addresses, one kept-alive connection, coalescing, the
// whole state on every connection, and a fan-out that is down, refusing or closing connections.

#include "FakeFanOut.h"
#include "LiveHttp.h"
#include "LivePublisher.h"
#include "Wait.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

live::PublisherUrl at(int port)
{
    return {"127.0.0.1", port, "/verteiler"};
}

live::PublisherOptions quick()
{
    live::PublisherOptions o;
    o.backoffMinMs = 50;
    o.backoffMaxMs = 400;
    o.tickIntervalMs = 100;
    o.ioTimeoutMs = 2000;
    return o;
}

// The bodies of the messages of one event type, in order.
std::vector<std::string> bodiesOf(const FakeFanOut &f, const std::string &event)
{
    std::vector<std::string> out;
    for (const auto &m : f.messages())
        if (m.event == event)
            out.push_back(m.body);
    return out;
}

// Whether the last message of that type contains `part`.
bool lastHas(const FakeFanOut &f, const std::string &event, const std::string &part)
{
    const std::vector<std::string> bodies = bodiesOf(f, event);
    return !bodies.empty() && bodies.back().find(part) != std::string::npos;
}

} // namespace

TEST(LivePublisher, AddressesAreTakenOnlyAsTheyCanBeUsedWithoutALookUp)
{
    const struct {
        const char *text;
        bool ok;
        const char *host;
        int port;
        const char *path;
    } cases[] = {
        {"http://127.0.0.1/verteiler", true, "127.0.0.1", 80, "/verteiler"},
        {" HTTP://192.168.1.20:8090/a/b/ ", true, "192.168.1.20", 8090, "/a/b"},
        {"http://[::1]:81", true, "::1", 81, ""},
        {"http://localhost/", true, "localhost", 80, ""},
        {"https://127.0.0.1/verteiler", false, "", 0, ""},
        {"http://stadion.example/verteiler", false, "", 0, ""},
        {"http://127.0.0.1:0/", false, "", 0, ""},
        {"http://127.0.0.1:65536/", false, "", 0, ""},
        {"http://127.0.0.1:/x", false, "", 0, ""},
        {"http://127.0.0.1/a b", false, "", 0, ""},
        {"http://127.0.0.1/a?b", false, "", 0, ""},
        {"http://user@127.0.0.1/", false, "", 0, ""},
        {"http://[::1/x", false, "", 0, ""},
        {"127.0.0.1/verteiler", false, "", 0, ""},
    };
    for (const auto &c : cases) {
        const auto url = live::ParsePublisherUrl(QString::fromUtf8(c.text));
        ASSERT_EQ(url.has_value(), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(*url, (live::PublisherUrl{c.host, c.port, c.path})) << c.text;
        }
    }
}

TEST(LivePublisher, OneConnectionCarriesTheWholeStateThenEachChangeCoalesced)
{
    FakeFanOut fanOut;
    live::LivePublisher publisher(at(fanOut.port()), quick());
    std::atomic<int> told{0};
    publisher.setStateListener([&] { ++told; });
    publisher.start();
    const QByteArray meeting = "\"meeting\":{\"title\":\"DM\"}";
    publisher.publish("\"heat\":\"1\"", meeting, 1000);
    ASSERT_TRUE(waitUntil([&] { return bodiesOf(fanOut, "tick").size() >= 2; }));
    EXPECT_EQ(publisher.state(), live::LivePublisher::State::Connected);
    EXPECT_GE(told.load(), 1);
    // The heat with the desk's clock, the meeting, then the clock alone: each to its own location.
    const auto first = fanOut.messages();
    EXPECT_EQ(first[0].path, "/verteiler/heat");
    ASSERT_EQ(first[0].body.rfind("{\"tick\":", 0), 0u) << first[0].body;
    const unsigned long tick = std::stoul(first[0].body.substr(8)); // the desk's clock when it was sent
    EXPECT_GE(tick, 1000u);
    EXPECT_LT(tick, 60000u);
    EXPECT_NE(first[0].body.find(",\"heat\":\"1\"}"), std::string::npos);
    EXPECT_EQ(first[1].path, "/verteiler/meeting");
    EXPECT_EQ(first[1].body, "{\"meeting\":{\"title\":\"DM\"}}");
    EXPECT_EQ(first[2].path, "/verteiler/tick");

    // A slow fan-out: a burst of changes goes out as its newest state, the meeting handed over
    // again unchanged not at all.
    fanOut.delayMs = 200;
    for (int i = 2; i <= 40; ++i)
        publisher.publish(QByteArray("\"heat\":\"") + QByteArray::number(i) + '"', meeting, 1000 + i);
    ASSERT_TRUE(waitUntil([&] { return lastHas(fanOut, "heat", "\"40\""); }));
    EXPECT_LE(bodiesOf(fanOut, "heat").size(), 4u);
    EXPECT_EQ(bodiesOf(fanOut, "meeting").size(), 1u);
    EXPECT_EQ(fanOut.connections(), 1);
    EXPECT_EQ(publisher.connectionsMade(), 1);
    for (const auto &m : fanOut.messages())
        EXPECT_EQ(m.connection, 1);
}

TEST(LivePublisher, AFanOutDownOrRefusingIsRetriedWithBackOffAndGetsTheNewestStateWhenBack)
{
    const int port = closedPort();
    live::LivePublisher publisher(at(port), quick());
    publisher.start();
    publisher.publish("\"heat\":\"1\"", "\"meeting\":1", 5);
    ASSERT_TRUE(waitUntil([&] { return publisher.state() == live::LivePublisher::State::Unreachable; }));
    EXPECT_EQ(publisher.problem(), QStringLiteral("Verbindung abgelehnt"));
    publisher.publish("\"heat\":\"2\"", "\"meeting\":2", 6); // the desk goes on

    {
        FakeFanOut refusing(port);
        refusing.status = 403;
        ASSERT_TRUE(waitUntil([&] { return publisher.problem().contains(QStringLiteral("403")); }, 5000));
        EXPECT_TRUE(waitUntil([&] { return publisher.state() == live::LivePublisher::State::Unreachable; }));
        // Tried again after pauses that double up to 400 ms, not over and over: about five tries in
        // 1.3 s, where pauses that never grow would make 26 and no pause thousands. The bound leaves
        // room for a loaded machine, whose pauses only grow longer.
        const int before = refusing.connections();
        QThread::msleep(1300);
        EXPECT_LE(refusing.connections() - before, 12);
    }

    FakeFanOut back(port);
    ASSERT_TRUE(waitUntil([&] { return bodiesOf(back, "meeting").size() == 1; }, 5000));
    // Told well again once the fan-out has answered, a moment after it has the message.
    EXPECT_TRUE(waitUntil(
        [&] { return publisher.state() == live::LivePublisher::State::Connected && publisher.problem().isEmpty(); }));
    EXPECT_NE(bodiesOf(back, "heat").front().find("\"heat\":\"2\""), std::string::npos);
    EXPECT_EQ(bodiesOf(back, "meeting").front(), "{\"meeting\":2}");
}

TEST(LivePublisher, ConnectionsTheFanOutEndsAreOpenedAnewButNeverOverAndOver)
{
    // Ended after each answer, as nginx says it does after its number of requests: every message
    // still arrives, each once.
    FakeFanOut fanOut;
    fanOut.closeEach = FakeFanOut::Announced;
    live::LivePublisher publisher(at(fanOut.port()), quick());
    publisher.start();
    publisher.publish("\"heat\":\"1\"", "\"meeting\":1", 5);
    ASSERT_TRUE(waitUntil([&] { return fanOut.connections() >= 4; }));
    publisher.publish("\"heat\":\"2\"", "\"meeting\":1", 6);
    ASSERT_TRUE(waitUntil([&] { return lastHas(fanOut, "heat", "\"2\""); }));
    EXPECT_EQ(bodiesOf(fanOut, "meeting").size(), 1u);
    // Told well again once the fan-out has answered, a moment after it has the message.
    EXPECT_TRUE(waitUntil([&] { return publisher.state() == live::LivePublisher::State::Connected; }));

    // Ended without a word after each message, the meeting never gets through: that is a fan-out
    // out of order, tried again after pauses, not in a loop.
    FakeFanOut silent;
    silent.closeEach = FakeFanOut::Silent;
    live::LivePublisher second(at(silent.port()), quick());
    second.start();
    second.publish("\"heat\":\"1\"", "\"meeting\":1", 5);
    ASSERT_TRUE(waitUntil([&] { return second.state() == live::LivePublisher::State::Unreachable; }));
    // Two connections a try, about four tries a second; pauses that never grow would make 40.
    const int before = silent.connections();
    QThread::msleep(1000);
    EXPECT_LE(silent.connections() - before, 20);
}

TEST(LivePublisher, AnAnswerThatIsNoFanOutsIsAFailureWithItsReason)
{
    const struct {
        std::string answer;
        const char *problem;
    } cases[] = {
        {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n", "Antwort 500 Internal Server Error"},
        {"SSH-2.0-OpenSSH_9.2\r\n\r\n", "Antwort unverständlich"},
        {"HTTP/1.1 201 Created\r\nContent-Length: 99999999999\r\n\r\n", "Antwort zu lang"},
        {"HTTP/1.1 201 Created\r\nX: " + std::string(20000, 'x'), "Antwort unverständlich"},
        {"HTTP/1.1 201 Created\r\nContent-Length: 5\r\n\r\nab", "keine Antwort"},
    };
    for (const auto &c : cases) {
        FakeFanOut odd(0, c.answer);
        live::PublisherOptions o = quick();
        o.ioTimeoutMs = 300;
        live::LivePublisher publisher(at(odd.port()), o);
        publisher.start();
        publisher.publish("\"heat\":\"1\"", "", 5);
        EXPECT_TRUE(waitUntil([&] { return publisher.state() == live::LivePublisher::State::Unreachable; }))
            << c.problem;
        EXPECT_EQ(publisher.problem(), QString::fromUtf8(c.problem));
    }
}

TEST(LivePublisher, StoppingNeverWaitsForAFanOutThatDoesNotAnswer)
{
    FakeFanOut silent;
    silent.delayMs = 60000; // takes the request and never answers while the test runs
    auto publisher = std::make_unique<live::LivePublisher>(at(silent.port()));
    publisher->start();
    publisher->publish("\"heat\":\"1\"", "", 5);
    ASSERT_TRUE(waitUntil([&] { return silent.connections() == 1; }));
    QThread::msleep(100);
    for (int i = 0; i < 1000; ++i)
        publisher->publish("\"heat\":\"x\"", "", 5 + i);
    publisher.reset(); // returns at once: the test would hang here otherwise
    SUCCEED();
}
