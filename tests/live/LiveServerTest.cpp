// The live view's server: event stream, pages, limits, slow clients, settings and the label.

#include "DeskFixture.h"
#include "FakeFanOut.h"
#include "LiveClient.h"
#include "LiveHttp.h"
#include "LiveServer.h"
#include "LiveView.h"
#include "Wait.h"

#include "Comms.h"
#include "Label3D.h"
#include "SortGrid.h"
#include "VirtualLines.h"
#include "LbSpeedButton.h"
#include "SpinEdit.h"

#include <QAction>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct LiveDesk : Desk {
    TFormMain *f;
    std::unique_ptr<live::LiveView> view;
    explicit LiveDesk(bool on = true, int lanes = 4)
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "DM"},
                 {"LineCount", lanes}, {"Accuracy", 2}};
        f = &create();
        view = std::make_unique<live::LiveView>(*f);
        if (on) {
            f->LiveSettings = {true, 0, QStringLiteral("127.0.0.1")};
            view->apply();
        }
    }
    ~LiveDesk() { view.reset(); }
    int port() const { return view->port(); }
    void stopAt(int lane, std::uint32_t msAfterStart)
    {
        fp.ticks.now = static_cast<std::uint32_t>(f->Model.desk().start) + msAfterStart;
        f->StopEntry(lane)->trigger();
    }
};

QJsonObject parse(const std::string &json)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

// The state as a page following the stream knows it: the last heat and the last meeting.
QJsonObject followed(const LiveClient &stream)
{
    QJsonObject s = parse(stream.lastSnapshot());
    const QJsonObject meeting = parse(stream.lastMeeting());
    for (auto it = meeting.begin(); it != meeting.end(); ++it)
        s.insert(it.key(), it.value());
    return s;
}

QString placeOf(const QJsonObject &s, int lane)
{
    return s["lanes"].toArray()[lane - 1].toObject()["place"].toString();
}

// A whole answer to one request; waits until the server closes the connection.
std::string fetch(int port, const std::string &path, const std::string &extraHeaders = {})
{
    LiveClient c(port, path, true, "Connection: close\r\n" + extraHeaders);
    EXPECT_TRUE(waitUntil([&] { return c.ended(); }, 5000)) << path;
    return c.text();
}

} // namespace

TEST(LiveServer, TheEventStreamDeliversEveryChangeOfTheRace)
{
    LiveDesk d;
    ASSERT_TRUE(d.view->isServing());
    LiveClient stream(d.port(), "/events");
    ASSERT_TRUE(waitUntil([&] { return stream.snapshotCount() >= 1; }));
    EXPECT_TRUE(stream.contains("Content-Type: text/event-stream"));
    EXPECT_FALSE(parse(stream.lastSnapshot())["running"].toBool());

    d.f->mStart->trigger();
    ASSERT_TRUE(waitUntil([&] { return parse(stream.lastSnapshot())["running"].toBool(); }));
    const int published = d.view->publishCount();
    d.stopAt(3, 10230);
    // The stop reaches the client through the view's own listening, nothing else is needed.
    ASSERT_TRUE(waitUntil([&] { return placeOf(parse(stream.lastSnapshot()), 3) == "1"; }));
    const QJsonObject s = parse(stream.lastSnapshot());
    EXPECT_EQ(s["lanes"].toArray()[2].toObject()["time"].toString(), "10,23");
    EXPECT_TRUE(s.contains("tick"));
    EXPECT_EQ(d.view->publishCount(), published + 1);

    // Nothing changes: nothing is published, however often the desk is read.
    for (int i = 0; i < 5; ++i)
        d.view->refresh();
    EXPECT_EQ(d.view->publishCount(), published + 1);

    d.f->bFehlStart->click(); // disabled after the first stop: nothing happens
    d.f->mStop->trigger();
    ASSERT_TRUE(waitUntil([&] { return !parse(stream.lastSnapshot())["running"].toBool(); }));
    EXPECT_EQ(parse(stream.lastSnapshot())["lanes"].toArray()[0].toObject()["time"].toString(), "");
}

TEST(LiveView, EveryCommandEditAndLineEdgeIsPublishedButTheClockAloneIsNot)
{
    LiveDesk d(false);
    platform::VirtualLineServer com1{d.fp.serial.socketFor(1)};
    ASSERT_TRUE(com1.start());
    d.f->ComPort1->setPort(1);
    d.f->ComPort1->Open();
    ASSERT_TRUE(com1.waitForDesk(5000));
    d.f->LiveSettings = {true, 0, QStringLiteral("127.0.0.1")};
    d.view->apply();
    LiveClient stream(d.port(), "/events");

    // The stream shows what the desk shows: its last event is the desk's snapshot of now.
    auto current = [&] {
        QJsonObject sent = followed(stream);
        sent.remove("tick");
        return sent == QJsonDocument::fromJson(live::SnapshotOf(d.f->Model).toJson()).object();
    };
    auto shown = [&](const char *step) {
        EXPECT_TRUE(waitUntil(current, 5000)) << step;
    };
    shown("first snapshot");

    d.f->Line(1)->eName->setText("Anna");
    shown("a name typed");
    d.f->eTitle->setText("Hallensportfest");
    shown("the title");
    d.f->cmb_Lauf->setCurrentIndex(1);
    shown("the heat kind");
    d.f->SetEntry(4)->trigger();
    shown("lane 4 switched off by its set key");

    // The start contact (DSR of port 1) starts the race through the port's own thread.
    com1.set(platform::LineDsr, true);
    ASSERT_TRUE(waitUntil([&] { return d.f->Clock->isActive(); }, 5000));
    shown("the start contact");

    // While the clock only counts, the desk is not even read.
    const int reads = d.view->refreshCount();
    const int published = d.view->publishCount();
    QElapsedTimer counting;
    counting.start();
    while (counting.elapsed() < 150) {
        d.fp.ticks.now += 7;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    EXPECT_EQ(d.view->refreshCount(), reads);
    EXPECT_EQ(d.view->publishCount(), published);

    d.fp.ticks.now = static_cast<std::uint32_t>(d.f->Model.desk().start) + 9870;
    com1.set(platform::LineDcd, true); // lane 1's own light barrier
    ASSERT_TRUE(waitUntil([&] { return d.f->Line(1)->LabelTime->Tag() > 0; }, 5000));
    shown("lane 1's light barrier");
    d.stopAt(2, 10010);
    shown("lane 2's stop key");
    QTest::mouseDClick(d.f->Line(3)->ePlatz, Qt::LeftButton);
    shown("lane 3 marked out");
    d.f->mStop->trigger();
    shown("STOPP");
    d.f->PopupMenuNATag = 2;
    d.f->N21->trigger();
    shown("a place text from the menu");
    d.f->bProtokoll->click();
    shown("the heat entered");
    EXPECT_EQ(parse(stream.lastMeeting())["heats"].toArray().size(), 1);
    d.f->seLauf->setValue(1);
    shown("back to heat 1");
    d.f->Model.recordToWrite().setCell(2, TFormMain::HeatHeaderRow(1, 4) + 2, "Berta");
    emit d.f->Model.recordChanged(); // as a start list or a journal tells it
    shown("a cell of the results table");
    EXPECT_EQ(parse(stream.lastMeeting())["heats"].toArray()[0].toObject()["rows"].toArray()[1].toArray()[2], "Berta");
}

TEST(LiveView, TheHeatGoesOutSmallWhateverTheMeetingAndTheMeetingOnlyWhenItChanges)
{
    LiveDesk d(false, 10);
    TFormMain &f = *d.f;
    // A meeting of 100 entered heats of ten lanes with long names and clubs, all in one ranking.
    auto name = [](int heat, int lane) {
        return QStringLiteral("Maximiliane-Friederike von Hohenberg-Langenstein %1-%2").arg(heat).arg(lane);
    };
    meeting::Record *grid = &f.Model.recordToWrite();
    grid->setRowCount(TFormMain::HeatHeaderRow(101, 10));
    grid->setCell(0, 0, "Hallensportfest");
    for (int h = 1; h <= 100; ++h) {
        const int header = TFormMain::HeatHeaderRow(h, 10);
        for (const auto &[column, text] : {std::pair{0, QString::number(h)}, {1, QStringLiteral("Vorlauf")},
                                           {2, QStringLiteral("60 m")}, {3, QStringLiteral("Frauen")}})
            grid->setCell(column, header, text);
        for (int lane = 1; lane <= 10; ++lane) {
            grid->setCell(0, header + lane, QStringLiteral("%1.").arg(lane));
            grid->setCell(1, header + lane, QString::number(1000 + 10 * h + lane));
            grid->setCell(2, header + lane, name(h, lane));
            grid->setCell(4, header + lane, QStringLiteral("Leichtathletikgemeinschaft Musterstadt-Beispielhausen"));
            grid->setCell(5, header + lane, QStringLiteral("7,%1").arg(10 + lane));
            grid->setCell(6, header + lane, QString::number(11 - lane)); // none the place of the race below
        }
        f.Model.recordToWrite().entered.append(h);
    }
    f.seLauf->setValue(100); // heat 100 on the desk, its athletes on the lanes
    f.LiveSettings = {true, 0, QStringLiteral("127.0.0.1")};
    d.view->apply();
    LiveClient stream(d.port(), "/events");
    ASSERT_TRUE(waitUntil([&] { return stream.snapshotCount() == 1 && stream.meetingCount() == 1; }, 10000));
    EXPECT_LT(stream.text().find("event: heat\n"), stream.text().find("event: meeting\n")); // the heat first
    EXPECT_GT(stream.lastMeeting().size(), 200000u);
    EXPECT_LT(stream.lastSnapshot().size(), 4096u);
    EXPECT_EQ(parse(stream.lastSnapshot())["lanes"].toArray()[9].toObject()["name"].toString(), name(100, 10));
    EXPECT_FALSE(parse(stream.lastSnapshot()).contains("heats"));

    // Each stop is a heat event of its own, small; the meeting is not sent again.
    f.mStart->trigger();
    for (int lane = 1; lane <= 10; ++lane) {
        d.stopAt(lane, 10000 + 37 * static_cast<std::uint32_t>(lane));
        ASSERT_TRUE(waitUntil([&] { return placeOf(parse(stream.lastSnapshot()), lane) == QString::number(lane); }));
        EXPECT_LT(stream.lastSnapshot().size(), 4096u) << lane;
    }
    EXPECT_EQ(stream.meetingCount(), 1);

    // Entered, the heat changes the meeting: its event follows.
    f.bProtokoll->click();
    ASSERT_TRUE(waitUntil([&] { return stream.meetingCount() == 2; }, 10000));
    const QJsonArray heats = parse(stream.lastMeeting())["heats"].toArray();
    ASSERT_EQ(heats.size(), 100);
    EXPECT_EQ(heats[99].toObject()["rows"].toArray()[0].toArray()[5].toString(), "10,03");

    // The whole state stays one object as before: the desk's clock, the heat's members, the meeting's.
    const std::string answer = fetch(d.port(), "/api/state");
    const std::string state = answer.substr(answer.find("\r\n\r\n") + 4);
    EXPECT_EQ(state.rfind("{\"tick\":", 0), 0u);
    EXPECT_TRUE(state.substr(state.find(',') + 1) == live::SnapshotOf(f.Model).toJson().mid(1).toStdString());
}

TEST(LiveView, ABurstOfChangesIsReadOnce)
{
    LiveDesk d;
    LiveClient stream(d.port(), "/events");
    ASSERT_TRUE(waitUntil([&] { return stream.snapshotCount() >= 1; }));
    const int reads = d.view->refreshCount();
    for (int i = 0; i < 100; ++i) // a start list, or a fast typist
        d.f->Line(2)->eName->setText(QStringLiteral("Name %1").arg(i));
    EXPECT_TRUE(d.view->refreshPending());
    EXPECT_EQ(d.view->refreshCount(), reads); // nothing read while the command runs
    ASSERT_TRUE(waitUntil([&] { return !d.view->refreshPending(); }));
    EXPECT_EQ(d.view->refreshCount(), reads + 1);
    ASSERT_TRUE(waitUntil([&] {
        return parse(stream.lastSnapshot())["lanes"].toArray()[1].toObject()["name"].toString() == "Name 99";
    }));
}

TEST(LiveServer, PagesAndStateAreReadOnlyAndSelfContained)
{
    LiveDesk d;
    for (const char *path : {"/", "/anzeige", "/veranstaltung"}) {
        const std::string page = fetch(d.port(), path);
        EXPECT_EQ(page.rfind("HTTP/1.1 200", 0), 0u) << path;
        EXPECT_NE(page.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
        EXPECT_NE(page.find("Content-Security-Policy: default-src 'none'"), std::string::npos);
        EXPECT_NE(page.find("<html lang=\"de\">"), std::string::npos);
        EXPECT_NE(page.find("\"title\":\"DM\""), std::string::npos) << "the first state is in the page";
        // The meeting only in the meeting's page: the heat's pages stay small however large it grows.
        EXPECT_EQ(page.find("\"heats\":") != std::string::npos, std::string(path) == "/veranstaltung") << path;
        for (const char *external : {"http://", "https://", "//cdn", "@import", "url("})
            EXPECT_EQ(page.find(external), std::string::npos) << path << " loads " << external;
    }
    const std::string state = fetch(d.port(), "/api/state");
    EXPECT_NE(state.find("Content-Type: application/json"), std::string::npos);
    const QJsonObject s = parse(state.substr(state.find("\r\n\r\n") + 4));
    EXPECT_EQ(s["lanes"].toArray().size(), 4);
    EXPECT_TRUE(s.contains("tick"));

    EXPECT_EQ(fetch(d.port(), "/../etc/passwd").rfind("HTTP/1.1 404", 0), 0u);
    EXPECT_EQ(fetch(d.port(), "/api/state/x").rfind("HTTP/1.1 404", 0), 0u);
    {
        // Anything but GET and HEAD is refused.
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(d.port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        const std::string req = "POST /api/state HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n";
        ASSERT_EQ(::send(fd, req.data(), req.size(), MSG_NOSIGNAL), static_cast<ssize_t>(req.size()));
        char buf[256] = {};
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        ASSERT_GT(::recv(fd, buf, sizeof buf - 1, 0), 0);
        EXPECT_EQ(std::string(buf).rfind("HTTP/1.1 405", 0), 0u) << buf;
        ::close(fd);
    }

    // Headers are bounded: a request of 64 KiB of headers is not served.
    const std::string huge = "X-Filler: " + std::string(64 * 1024, 'a') + "\r\n";
    const std::string answer = fetch(d.port(), "/api/state", huge);
    EXPECT_EQ(answer.find("HTTP/1.1 200"), std::string::npos) << answer.substr(0, 40);
}

TEST(LiveServer, SixtyFourStreamsAndTheNextIsRefused)
{
    LiveDesk d;
    std::vector<std::unique_ptr<LiveClient>> streams;
    for (int i = 0; i < 64; ++i) // eight phones each on eight addresses
        streams.push_back(std::make_unique<LiveClient>(d.port(), "/events", true, std::string(), 2 + i / 8));
    ASSERT_TRUE(waitUntil([&] {
        for (const auto &s : streams)
            if (s->snapshotCount() < 1)
                return false;
        return true;
    }, 10000));
    EXPECT_EQ(d.view->server()->streamCount(), 64);

    LiveClient refused(d.port(), "/events", true, std::string(), 20);
    ASSERT_TRUE(waitUntil([&] { return refused.ended(); }, 5000));
    EXPECT_EQ(refused.text().rfind("HTTP/1.1 503", 0), 0u) << refused.text();
    // The state and the pages are still answered.
    EXPECT_EQ(fetch(d.port(), "/api/state").rfind("HTTP/1.1 200", 0), 0u);

    // Every stream still gets the next change.
    d.f->mStart->trigger();
    EXPECT_TRUE(waitUntil([&] {
        for (const auto &s : streams)
            if (!parse(s->lastSnapshot())["running"].toBool())
                return false;
        return true;
    }, 10000));

    // A client that goes away frees its place.
    streams.front()->close();
    streams.erase(streams.begin());
    ASSERT_TRUE(waitUntil([&] { return d.view->server()->streamCount() == 63; }, 5000));
    LiveClient next(d.port(), "/events", true, std::string(), 2);
    EXPECT_TRUE(waitUntil([&] { return next.snapshotCount() >= 1; }, 5000));
}

TEST(LiveServer, ConnectionsBeyondTheLimitAreAnsweredAtOnce)
{
    live::LiveServer server;
    live::ServerOptions o;
    o.bind = "127.0.0.1";
    o.port = 0;
    o.maxStreams = 2;
    o.spareConnections = 1;
    ASSERT_TRUE(server.start(o));
    server.publish("\"a\":1", "", 7);
    // Three connections from three hosts that never send a request hold every place.
    std::vector<std::unique_ptr<LiveClient>> idle;
    for (int i = 0; i < 3; ++i)
        idle.push_back(std::make_unique<LiveClient>(server.port(), "", true, std::string(), 2 + i));
    ASSERT_TRUE(waitUntil([&] { return server.connectionCount() == 3; }));
    LiveClient fourth(server.port(), "/api/state", true, std::string(), 9);
    ASSERT_TRUE(waitUntil([&] { return fourth.ended(); }, 3000));
    EXPECT_EQ(fourth.text().rfind("HTTP/1.1 503", 0), 0u) << fourth.text();
}

TEST(LiveServer, OneAddressCannotTakeEveryConnection)
{
    live::LiveServer server;
    live::ServerOptions o;
    o.bind = "127.0.0.1";
    o.port = 0;
    ASSERT_TRUE(server.start(o));
    server.publish("\"a\":1", "", 7);
    // One host opens 68 connections and never sends a request: it gets eight, the rest 503.
    std::vector<std::unique_ptr<LiveClient>> idle;
    for (int i = 0; i < 68; ++i)
        idle.push_back(std::make_unique<LiveClient>(server.port(), "", true, std::string(), 5));
    ASSERT_TRUE(waitUntil([&] {
        int refused = 0;
        for (const auto &c : idle)
            refused += c->ended() && c->text().rfind("HTTP/1.1 503", 0) == 0;
        return refused == 60;
    }, 5000));
    EXPECT_EQ(server.connectionCount(), 8);
    // Every other host is served as before: the page, the state and a stream.
    EXPECT_EQ(fetch(server.port(), "/api/state").rfind("HTTP/1.1 200", 0), 0u);
    LiveClient other(server.port(), "/", true, std::string(), 6);
    ASSERT_TRUE(waitUntil([&] { return other.contains("</html>"); }, 5000));
    EXPECT_EQ(other.text().rfind("HTTP/1.1 200", 0), 0u);
    LiveClient stream(server.port(), "/events", true, std::string(), 6);
    ASSERT_TRUE(waitUntil([&] { return stream.snapshotCount() == 1; }, 5000));
    // And the host itself again once its connections are gone.
    idle.clear();
    ASSERT_TRUE(waitUntil([&] { return server.connectionCount() <= 3; }, 5000));
    LiveClient again(server.port(), "/api/state", true, std::string(), 5);
    ASSERT_TRUE(waitUntil([&] { return again.contains("\"a\":1"); }, 5000));
    EXPECT_EQ(again.text().rfind("HTTP/1.1 200", 0), 0u);
}

TEST(LiveServer, ARangeHeaderGetsTheWholePageOnce)
{
    LiveDesk d;
    const std::string plain = fetch(d.port(), "/veranstaltung");
    ASSERT_EQ(plain.rfind("HTTP/1.1 200", 0), 0u);
    std::string ranges = "Range: bytes=0-";
    while (ranges.size() < 8100)
        ranges += ",0-";
    const std::string ranged = fetch(d.port(), "/veranstaltung", ranges + "\r\n");
    EXPECT_EQ(ranged.rfind("HTTP/1.1 200", 0), 0u) << ranged.substr(0, 60);
    EXPECT_EQ(ranged.find("multipart/byteranges"), std::string::npos);
    const auto body = [](const std::string &answer) { return answer.substr(answer.find("\r\n\r\n") + 4); };
    EXPECT_EQ(body(ranged).size(), body(plain).size());
}

TEST(LiveServer, AClientThatNeverReadsHoldsUpNeitherTheDeskNorOthers)
{
    live::LiveServer server;
    live::ServerOptions o;
    o.bind = "127.0.0.1";
    o.port = 0;
    ASSERT_TRUE(server.start(o));
    server.publish("\"v\":0", "", 1);
    LiveClient stalled(server.port(), "/events", false);
    LiveClient reader(server.port(), "/events");
    ASSERT_TRUE(waitUntil([&] { return reader.snapshotCount() >= 1; }));

    // Far more than the stalled client's socket buffers hold: publishing never waits for it.
    const QByteArray filler(64 * 1024, 'x');
    for (int v = 1; v <= 200; ++v)
        server.publish("\"v\":" + QByteArray::number(v) + ",\"f\":\"" + filler + "\"", "", 1);
    EXPECT_TRUE(waitUntil([&] { return reader.lastSnapshot().rfind("{\"tick\":", 0) == 0
                                       && parse(reader.lastSnapshot())["v"].toInt() == 200; }, 10000));
    server.stop(); // returns although the stalled client still has the server waiting to write
    EXPECT_FALSE(server.isRunning());
}

TEST(LiveServer, AClientThatStopsTakingDataIsDropped)
{
    live::LiveServer server;
    live::ServerOptions o;
    o.bind = "127.0.0.1";
    o.port = 0;
    o.writeTimeoutMs = 300;
    ASSERT_TRUE(server.start(o));
    server.publish("\"v\":0", "", 1);
    LiveClient stalled(server.port(), "/events", false);
    LiveClient reader(server.port(), "/events", true, std::string(), 2);
    ASSERT_TRUE(waitUntil([&] { return server.streamCount() == 2; }));
    const QByteArray filler(64 * 1024, 'x');
    // Each snapshot waits for the reader, so that each is sent: far more than the sockets' buffers
    // of the stalled client hold.
    for (int v = 1; v <= 200 && server.streamCount() == 2; ++v) {
        server.publish("\"v\":" + QByteArray::number(v) + ",\"f\":\"" + filler + "\"", "", 1);
        ASSERT_TRUE(waitUntil([&] { return parse(reader.lastSnapshot())["v"].toInt() == v; }, 10000));
    }
    // The stalled one is let go; the reader stays.
    EXPECT_TRUE(waitUntil([&] { return server.streamCount() == 1; }, 10000));
    server.publish("\"v\":0", "", 1);
    EXPECT_TRUE(waitUntil([&] { return parse(reader.lastSnapshot())["v"].toInt() == 0; }, 10000));
}

TEST(LiveServer, TheStreamSendsEachPartWhenItChanges)
{
    live::LiveServer server;
    live::ServerOptions o;
    o.bind = "127.0.0.1";
    o.port = 0;
    ASSERT_TRUE(server.start(o));
    const QByteArray meeting = "\"heats\":[1]";
    server.publish("\"heat\":1", meeting, 1);
    LiveClient stream(server.port(), "/events");
    ASSERT_TRUE(waitUntil([&] { return stream.snapshotCount() == 1 && stream.meetingCount() == 1; }));
    EXPECT_EQ(parse(stream.lastMeeting())["heats"].toArray().size(), 1);

    server.publish("\"heat\":2", meeting, 2); // the heat alone
    ASSERT_TRUE(waitUntil([&] { return parse(stream.lastSnapshot())["heat"].toInt() == 2; }));
    server.publish("\"heat\":2", QByteArray("\"heats\":[1]"), 3); // nothing new: no event
    server.publish("\"heat\":2", "\"heats\":[1,2]", 4);          // the meeting alone
    ASSERT_TRUE(waitUntil([&] { return stream.meetingCount() == 2; }));
    EXPECT_EQ(parse(stream.lastMeeting())["heats"].toArray().size(), 2);
    EXPECT_EQ(stream.snapshotCount(), 2);
}

TEST(LiveServer, AClientThatSendsOnIsDroppedAndTheOthersAreServed)
{
    live::LiveServer server;
    live::ServerOptions o;
    o.bind = "127.0.0.1";
    o.port = 0;
    o.readTimeoutMs = 600000; // only what they send can end these connections within the test
    o.writeTimeoutMs = 600000;
    ASSERT_TRUE(server.start(o));
    // A state larger than the sockets' buffers hold, so that an answer to it stays unfinished.
    server.publish("\"v\":0", "\"f\":\"" + QByteArray(8 << 20, 'x') + "\"", 1);
    LiveClient reader(server.port(), "/events", true, std::string(), 2);
    ASSERT_TRUE(waitUntil([&] { return reader.meetingCount() == 1; }, 10000));

    // Streams that say a word after their request, or go on sending; a client that sends on after
    // its request while its answer is still being written.
    LiveClient chatty(server.port(), "/events", true, std::string(), 3);
    LiveClient streamFlood(server.port(), "/events", true, std::string(), 4);
    LiveClient answerFlood(server.port(), "/api/state", false, std::string(), 5);
    ASSERT_TRUE(waitUntil([&] { return server.streamCount() == 3 && server.connectionCount() == 4; }, 10000));
    chatty.send("x");
    streamFlood.flood();
    answerFlood.flood();
    LiveClient piggyback(server.port(), "", true, std::string(), 6); // a word right behind its stream's request
    piggyback.send("GET /events HTTP/1.1\r\nHost: x\r\n\r\nx");
    EXPECT_TRUE(waitUntil([&] { return server.connectionCount() == 1; }, 10000));
    EXPECT_EQ(server.streamCount(), 1);
    EXPECT_TRUE(waitUntil([&] { return streamFlood.floodEnded() && answerFlood.floodEnded(); }, 10000));

    // The reader stays and is sent the next change.
    server.publish("\"v\":1", "", 2);
    EXPECT_TRUE(waitUntil([&] { return parse(reader.lastSnapshot())["v"].toInt() == 1; }, 10000));
    EXPECT_EQ(fetch(server.port(), "/api/state").rfind("HTTP/1.1 200", 0), 0u);
}

TEST(LiveServer, ABusyPortIsReportedInTheLabel)
{
    live::LiveServer other;
    live::ServerOptions o;
    o.bind = "127.0.0.1";
    o.port = 0;
    ASSERT_TRUE(other.start(o));
    LiveDesk d(false);
    d.f->LiveSettings = {true, other.port(), QStringLiteral("127.0.0.1")};
    d.view->apply();
    EXPECT_FALSE(d.view->isServing());
    ASSERT_NE(d.view->AddressLabel, nullptr);
    EXPECT_TRUE(d.view->AddressLabel->isVisibleTo(d.f));
    EXPECT_TRUE(d.view->AddressLabel->text().contains(QStringLiteral("Port %1 belegt").arg(other.port())))
        << d.view->AddressLabel->text().toStdString();
}

TEST(LiveView, OffLeavesTheWindowAsItWasAndOnShowsTheAddress)
{
    LiveDesk d(false);
    d.f->show();
    const QImage before = d.f->grab().toImage();
    d.view->apply(); // off: nothing runs, nothing is shown, a change of the desk is not read
    EXPECT_FALSE(d.view->isServing());
    d.f->eTitle->setText("X");
    EXPECT_FALSE(d.view->refreshPending());
    EXPECT_EQ(d.view->refreshCount(), 0);
    d.f->eTitle->setText("DM");
    EXPECT_EQ(d.f->grab().toImage(), before);

    d.f->LiveSettings = {true, 0, QStringLiteral("127.0.0.1")};
    d.view->apply();
    ASSERT_TRUE(d.view->isServing());
    EXPECT_EQ(d.view->publishCount(), 1);
    EXPECT_EQ(d.f->windowTitle(), QStringLiteral("Zielkron 1.4"));
    EXPECT_TRUE(d.view->AddressLabel->isVisible());
    EXPECT_TRUE(d.view->AddressLabel->text().contains(QStringLiteral("127.0.0.1:%1").arg(d.port())));
    EXPECT_TRUE(d.view->AddressLabel->toolTip().contains(QStringLiteral("/anzeige")));
    EXPECT_NE(d.f->grab().toImage(), before);
    // The address and the note on real-time priority each have a place of their own, inside the
    // window and over no other control.
    d.f->RealtimeNote->show();
    for (QWidget *shown : {static_cast<QWidget *>(d.view->AddressLabel), static_cast<QWidget *>(d.f->RealtimeNote)}) {
        const QRect r(shown->mapTo(d.f, QPoint()), shown->size());
        EXPECT_TRUE(d.f->rect().contains(r)) << shown->objectName().toStdString();
        for (QWidget *other : d.f->findChildren<QWidget *>()) {
            if (other == shown || !other->isVisible() || other->isAncestorOf(shown) || shown->isAncestorOf(other))
                continue;
            const QRect seen = other->visibleRegion().boundingRect(); // a row beyond the lanes is cut off
            EXPECT_FALSE(r.intersects(seen.translated(other->mapTo(d.f, QPoint()))))
                << shown->objectName().toStdString() << " over " << other->objectName().toStdString();
        }
    }
    d.f->RealtimeNote->hide();

    d.f->LiveSettings.On = false;
    d.view->apply();
    EXPECT_FALSE(d.view->isServing());
    EXPECT_EQ(d.f->grab().toImage(), before);
}

TEST(LiveView, SettingsDialogStoreAndCommandLine)
{
    {
        LiveDesk d(false);
        EXPECT_FALSE(d.f->LiveSettings.On); // off by default
        EXPECT_EQ(d.f->LiveSettings.Port, 8080);
        // The dialog shows the settings and applies them on OK.
        QSignalSpy changed(d.f, &TFormMain::LiveSettingsChanged);
        d.fp.dialogs.modalAnswers.push_back([](QDialog *dlg) {
            auto *cfg = static_cast<TCfgDialog *>(dlg);
            EXPECT_FALSE(cfg->cbLive->isChecked());
            EXPECT_EQ(cfg->seLivePort->Value(), 8080);
            cfg->cbLive->setChecked(true);
            cfg->seLivePort->setText("8181");
            cfg->eLiveBind->setText(" 127.0.0.1 ");
            return QDialog::Accepted;
        });
        d.f->cmd_EinstellungenClick();
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(d.f->LiveSettings, (TLiveSettings{true, 8181, "127.0.0.1"}));
        // OK without a change keeps the server and its clients.
        d.fp.dialogs.modalAnswers.push_back([](QDialog *) { return QDialog::Accepted; });
        d.f->cmd_EinstellungenClick();
        EXPECT_EQ(changed.count(), 1);
        d.view.reset();
        d.destroy();
    }
    // Stored after every earlier value and read back on the next start.
    {
        LiveDesk d(false);
        d.f->LiveSettingsStored = {true, 8181, "127.0.0.1"};
        d.view.reset();
        d.destroy();
        const QStringList order = d.fp.settings.writeOrder;
        ASSERT_GE(order.size(), 3);
        EXPECT_EQ(order.mid(order.indexOf("DataON") + 1, 3), (QStringList{"LiveOn", "LivePort", "LiveBind"}));
        fake::Key stored = d.key();
        Desk next;
        next.key() = stored;
        TFormMain &f = next.create();
        EXPECT_EQ(f.LiveSettings, (TLiveSettings{true, 8181, "127.0.0.1"}));
        EXPECT_EQ(f.Model.lanes(), 4); // the values before are read as before
    }
    // A store from before the live view: the old values read as always, the view stays off.
    {
        Desk old;
        old.key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                     {"Port3", 0}, {"Port4", 0}, {"Alg", 1}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "X"},
                     {"LineCount", 6}, {"Accuracy", 2}, {"OneLS", 0}, {"Wind", 15}, {"DataON", 0},
                     {"LivePort", "nonsense"}};
        TFormMain &f = old.create();
        EXPECT_EQ(f.Model.lanes(), 6);
        EXPECT_EQ(f.Model.settings().edge, 1);
        EXPECT_FALSE(f.LiveSettings.On);
        EXPECT_EQ(f.LiveSettings.Port, 8080);
    }

    // "--live PORT" switches the view on for this run only.
    TLiveSettings s;
    QString message;
    EXPECT_TRUE(live::LiveView::ParseOption({"zielkron"}, s, message));
    EXPECT_FALSE(s.On);
    EXPECT_TRUE(live::LiveView::ParseOption({"zielkron", "--live", "9090"}, s, message));
    EXPECT_EQ(s, (TLiveSettings{true, 9090, QString()}));
    EXPECT_TRUE(live::LiveView::ParseOption({"zielkron", "--live", "127.0.0.1:0"}, s, message));
    EXPECT_EQ(s, (TLiveSettings{true, 0, "127.0.0.1"}));
    for (const char *bad : {"", "80a", "70000", "nohost:80", "-1"}) {
        TLiveSettings t;
        EXPECT_FALSE(live::LiveView::ParseOption({"zielkron", "--live", bad}, t, message)) << bad;
        EXPECT_FALSE(t.On);
    }
}

TEST(LiveView, TheCommandLinesChoiceIsShownInTheDialogAndNeverStored)
{
    LiveDesk d; // as "--live 127.0.0.1:0" leaves it: on for this run, on a free port
    const int port = d.port();
    ASSERT_GT(port, 0);
    const live::LiveServer *server = d.view->server();
    LiveClient stream(port, "/events");
    ASSERT_TRUE(waitUntil([&] { return stream.snapshotCount() >= 1; }));
    d.fp.dialogs.modalAnswers.push_back([port](QDialog *dlg) {
        auto *cfg = static_cast<TCfgDialog *>(dlg);
        EXPECT_TRUE(cfg->cbLive->isChecked());
        EXPECT_EQ(cfg->seLivePort->Value(), port); // the port in use
        EXPECT_EQ(cfg->eLiveBind->text(), "127.0.0.1");
        return QDialog::Accepted;
    });
    d.f->cmd_EinstellungenClick();
    // OK without a change: the same server on the same port, its client still there.
    EXPECT_EQ(d.view->server(), server);
    EXPECT_EQ(d.port(), port);
    EXPECT_EQ(d.view->server()->streamCount(), 1);
    d.view.reset();
    d.destroy();
    // The stored settings are those from before this run.
    EXPECT_EQ(d.key().value("LiveOn").toInt(), 0);
    EXPECT_EQ(d.key().value("LivePort").toInt(), 8080);
    EXPECT_EQ(d.key().value("LiveBind").toString(), "");
}

// The request side, without sockets: what a connection is sent for the bytes it sends.
TEST(LiveHttp, RequestsAreReadStrictlyAndAnsweredInOrder)
{
    live::Published state;
    state.heat = "\"title\":\"DM\"";
    state.meeting = "\"heats\":[]";
    state.tick = 5000;
    auto answers = [&](const std::string &bytes) { return live::AnswerBytes(bytes, &state); };
    auto statuses = [&](const std::string &bytes) {
        std::string out;
        const std::string all = answers(bytes);
        for (std::size_t at = all.find("HTTP/1.1 "); at != std::string::npos; at = all.find("HTTP/1.1 ", at + 1))
            out += all.substr(at + 9, 3) + " ";
        return out;
    };

    // Two requests on one connection, the second with a query and bare line feeds.
    EXPECT_EQ(statuses("GET /api/state HTTP/1.1\r\nHost: x\r\n\r\nGET /nix?a=1 HTTP/1.1\n\n"), "200 404 ");
    EXPECT_EQ(statuses("GET /api/state?x HTTP/1.1\r\n\r\n"), "200 ");
    EXPECT_EQ(statuses("GET http://desk:8080/anzeige HTTP/1.1\r\n\r\n"), "200 ");
    // HTTP/1.0 and "Connection: close" end the connection after the answer.
    EXPECT_EQ(statuses("GET / HTTP/1.0\r\n\r\nGET / HTTP/1.0\r\n\r\n"), "200 ");
    EXPECT_EQ(statuses("GET / HTTP/1.1\r\nConnection: Close\r\n\r\nGET / HTTP/1.1\r\n\r\n"), "200 ");
    // A body is never read: the request is answered and the connection closed.
    EXPECT_EQ(statuses("GET / HTTP/1.1\r\nContent-Length: 5\r\n\r\nGET /x HTTP/1.1\r\n\r\n"), "200 ");
    EXPECT_EQ(statuses("POST /api/state HTTP/1.1\r\nContent-Length: 0\r\n\r\nGET / HTTP/1.1\r\n\r\n"), "405 ");
    // Malformed requests: 400, and nothing after them is read.
    for (const char *bad : {"GET /\r\n\r\n", "GET  / HTTP/1.1\r\n\r\n", "GET / HTTP/2.0\r\n\r\n",
                            "GET x HTTP/1.1\r\n\r\n", "G(T / HTTP/1.1\r\n\r\n", "GET /\x01 HTTP/1.1\r\n\r\n",
                            "GET / HTTP/1.1\r\nNoColon\r\n\r\n", "GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n",
                            "GET / HTTP/1.1\r\nA: b\rc\r\n\r\n"})
        EXPECT_EQ(statuses(std::string(bad) + "GET / HTTP/1.1\r\n\r\n"), "400 ") << bad;
    // An incomplete head is not answered; one beyond the limit is refused, complete or not.
    EXPECT_EQ(answers("GET / HTTP/1.1\r\nHost: x\r\n"), "");
    EXPECT_EQ(statuses("GET / HTTP/1.1\r\nX: " + std::string(20000, 'a')), "431 ");

    // HEAD: the length of the body, without it.
    const std::string get = answers("GET /api/state HTTP/1.1\r\n\r\n");
    const std::string head = answers("HEAD /api/state HTTP/1.1\r\n\r\n");
    EXPECT_EQ(head, get.substr(0, get.find("\r\n\r\n") + 4));
    EXPECT_NE(head.find("Content-Length: " + std::to_string(get.size() - head.size()) + "\r\n"), std::string::npos);
    // The state carries the desk's clock of now: at least the tick of the snapshot.
    EXPECT_EQ(get.substr(head.size(), 9), "{\"tick\":5") << get;

    // The event stream: its head, then the first event, and the connection is the stream's.
    const std::string events = answers("GET /events HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(events.rfind("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n", 0), 0u);
    const std::size_t heat = events.find("\r\n\r\nretry: 2000\nevent: heat\ndata: {\"tick\":");
    EXPECT_NE(heat, std::string::npos);
    EXPECT_NE(events.find("\"title\":\"DM\"}\n\nevent: meeting\ndata: {\"heats\":[]}\n\n", heat), std::string::npos) << events;
    EXPECT_EQ(events.find("<html"), std::string::npos);
    // Before the desk's first snapshot the state is not there yet.
    EXPECT_EQ(live::AnswerBytes("GET /api/state HTTP/1.1\r\n\r\n", nullptr).rfind("HTTP/1.1 503", 0), 0u);
}

TEST(LiveServer, ATrustedProxysConnectionsCountForTheClientItNames)
{
    // X-Forwarded-For is read from the right, past the trusted proxies: what a client wrote left
    // of them never counts.
    const std::vector<std::string> trusted{live::AddressBytes("127.0.0.1"), live::AddressBytes("::1")};
    const struct {
        const char *header;
        std::string client;
    } cases[] = {
        {"10.0.0.7", live::AddressBytes("10.0.0.7")},
        {"1.2.3.4, 10.0.0.7", live::AddressBytes("10.0.0.7")},
        {"10.0.0.7,127.0.0.1", live::AddressBytes("10.0.0.7")},
        {" ::ffff:10.0.0.7 ,,", live::AddressBytes("10.0.0.7")},
        {"[2001:db8::1]", live::AddressBytes("2001:db8::1")},
        {"127.0.0.1, ::1", ""},
        {"", ""},
        {"10.0.0.7, unknown", "?unknown"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(live::ForwardedClient(c.header, trusted), c.client) << c.header;

    live::LiveServer server;
    live::ServerOptions o;
    o.bind = "127.0.0.1";
    o.port = 0;
    o.maxPerAddress = 2;
    o.trustedProxies = {"127.0.0.1"};
    ASSERT_TRUE(server.start(o));
    server.publish("\"a\":1", "", 7);
    auto served = [](const LiveClient &c) { return waitUntil([&] { return c.snapshotCount() >= 1; }, 5000); };
    auto refused = [](const LiveClient &c) {
        return waitUntil([&] { return c.ended(); }, 5000) && c.text().rfind("HTTP/1.1 503", 0) == 0;
    };
    auto via = [&](const std::string &client, int from = 0) {
        return std::make_unique<LiveClient>(server.port(), "/events", true,
                                            client.empty() ? std::string() : "X-Forwarded-For: " + client + "\r\n", from);
    };
    // Through the proxy 127.0.0.1: 10.0.0.7 gets its two streams and no third; another client
    // and the proxy's own requests are not held up by that.
    auto a1 = via("10.0.0.7"), a2 = via("9.9.9.9, 10.0.0.7");
    ASSERT_TRUE(served(*a1) && served(*a2));
    auto a3 = via("10.0.0.7");
    EXPECT_TRUE(refused(*a3));
    auto b = via("10.0.0.8");
    EXPECT_TRUE(served(*b));
    std::vector<std::unique_ptr<LiveClient>> own;
    for (int i = 0; i < 4; ++i) {
        own.push_back(via(""));
        EXPECT_TRUE(served(*own.back())) << i;
    }
    // Any other host's header is not read: 127.0.0.5 is limited as itself, whoever it names.
    auto d1 = via("10.0.0.20", 5), d2 = via("10.0.0.21", 5);
    ASSERT_TRUE(served(*d1) && served(*d2));
    auto d3 = via("10.0.0.22", 5);
    EXPECT_TRUE(refused(*d3));
    // A client's place is free again when one of its streams ends.
    a1.reset();
    ASSERT_TRUE(waitUntil([&] { return server.streamCount() == 8; }, 5000));
    auto a4 = via("10.0.0.7");
    EXPECT_TRUE(served(*a4));
    // A proxy address that is no address keeps the server from starting, with the reason.
    live::LiveServer wrong;
    o.trustedProxies = {"10.0.0"};
    EXPECT_FALSE(wrong.start(o));
    EXPECT_TRUE(wrong.errorText().contains("10.0.0"));
}

TEST(LiveView, AFanOutOutOfReachIsShownAndTheDeskRacesOn)
{
    LiveDesk d(false);
    const int port = closedPort();
    d.f->LiveSettings.PublishUrl = QStringLiteral("http://127.0.0.1:%1/verteiler").arg(port);
    d.view->apply();
    ASSERT_NE(d.view->publisher(), nullptr);
    EXPECT_FALSE(d.view->isServing()); // the desk's own server stays as it was set: off
    QLabel *label = d.view->AddressLabel;
    ASSERT_TRUE(waitUntil([&] { return label->text().contains(QStringLiteral("Verteiler nicht erreichbar")); }));
    EXPECT_TRUE(label->isVisible() || !d.f->isVisible());
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    EXPECT_TRUE(label->toolTip().contains(QStringLiteral("Verbindung abgelehnt"))) << label->toolTip().toStdString();

    // The race goes on as ever, and its newest state is what the fan-out gets once it is there.
    d.f->mStart->trigger();
    d.stopAt(2, 9870);
    EXPECT_EQ(live::SnapshotOf(d.f->Model).lanes[1].time, QStringLiteral("9,87"));
    FakeFanOut fanOut(port);
    ASSERT_TRUE(waitUntil([&] { return label->text().contains(QStringLiteral("Verteiler aktiv")); }, 15000));
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white));
    std::string heat;
    for (const auto &m : fanOut.messages())
        if (m.event == "heat")
            heat = m.body;
    ASSERT_FALSE(heat.empty());
    EXPECT_EQ(placeOf(parse(heat), 2), "1") << heat;
    // With the desk's own server on as well, its address stays in the label.
    d.f->LiveSettings.On = true;
    d.f->LiveSettings.Port = 0;
    d.f->LiveSettings.Bind = QStringLiteral("127.0.0.1");
    d.view->apply();
    ASSERT_TRUE(d.view->isServing());
    EXPECT_EQ(d.view->publisher()->connectionsMade(), 1); // the publisher was left running
    EXPECT_EQ(label->text(), QStringLiteral("Live-Anzeige:\n127.0.0.1:%1\nVerteiler aktiv").arg(d.port()));
}

TEST(LiveView, TheFanOutAndTheProxiesAreSetInTheDialogStoredAndGivenForOneRun)
{
    {
        LiveDesk d(false);
        d.fp.dialogs.modalAnswers.push_back([](QDialog *dlg) {
            auto *cfg = static_cast<TCfgDialog *>(dlg);
            cfg->eLivePublish->setText(" http://127.0.0.1:1/verteiler ");
            cfg->eLiveProxies->setText("127.0.0.1, ::1");
            return QDialog::Accepted;
        });
        d.f->cmd_EinstellungenClick();
        EXPECT_EQ(d.f->LiveSettings, (TLiveSettings{false, 8080, "", "http://127.0.0.1:1/verteiler", "127.0.0.1, ::1"}));
        ASSERT_NE(d.view->publisher(), nullptr);
        EXPECT_EQ(d.view->publisher()->url().port, 1);
        d.view.reset();
        d.destroy();
        Desk next;
        next.key() = d.key();
        EXPECT_EQ(next.create().LiveSettings, (TLiveSettings{false, 8080, "", "http://127.0.0.1:1/verteiler", "127.0.0.1, ::1"}));
    }
    // "--live-publish URL" for this run only; a wrong address is refused.
    TLiveSettings s;
    QString message;
    EXPECT_TRUE(live::LiveView::ParseOption({"zielkron", "--live-publish=http://[::1]:81/v", "--live=9090"}, s, message));
    EXPECT_EQ(s, (TLiveSettings{true, 9090, QString(), "http://[::1]:81/v", QString()}));
    TLiveSettings t;
    EXPECT_FALSE(live::LiveView::ParseOption({"zielkron", "--live-publish", "stadion:80"}, t, message));
    EXPECT_TRUE(message.contains("--live-publish"));
    EXPECT_TRUE(t.PublishUrl.isEmpty());
    {
        LiveDesk d(false);
        d.f->LiveSettings.PublishUrl = QStringLiteral("http://127.0.0.1:1/verteiler");
        d.view->apply();
        d.view.reset();
        d.destroy();
        EXPECT_EQ(d.key().value("LivePublish").toString(), "");
    }
    // A wrong address kept in the settings is said in the label; the desk's own server still runs.
    LiveDesk d(false);
    d.f->LiveSettings = {true, 0, QStringLiteral("127.0.0.1"), QStringLiteral("http://stadion/verteiler"), QString()};
    d.view->apply();
    EXPECT_TRUE(d.view->isServing());
    EXPECT_EQ(d.view->publisher(), nullptr);
    EXPECT_TRUE(d.view->AddressLabel->text().contains(QStringLiteral("Verteiler-Adresse ungültig")));
}
