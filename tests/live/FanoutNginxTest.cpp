// The stands' fan-out for real: Debian's nginx with its nchan module, the site configuration the
// package ships, the desk publishing to it and 50 event-stream clients on ten addresses. Run by
// tools/fanout-check.sh, which installs the two packages when they are missing.

#include "DeskFixture.h"
#include "LiveClient.h"
#include "LiveView.h"
#include "NginxFanOut.h"
#include "Wait.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

QJsonObject parse(const std::string &json)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

// A lane's field ("time", "place") in the last heat event a client has.
QString laneField(const LiveClient &c, int lane, const char *field)
{
    const QJsonArray lanes = parse(c.lastSnapshot())["lanes"].toArray();
    return lane <= lanes.size() ? lanes.at(lane - 1).toObject()[QLatin1String(field)].toString() : QString();
}

std::string fetch(int port, const std::string &path)
{
    LiveClient c(port, path, true, "Connection: close\r\n");
    EXPECT_TRUE(waitUntil([&] { return c.ended(); }, 5000)) << path;
    return c.text();
}

const std::string kStream = "Accept: text/event-stream\r\n";

} // namespace

TEST(Fanout, FiftyStandsSeeAStoppedLaneAndTheDeskOutlivesItsFanOut)
{
    ASSERT_TRUE(NginxFanOut::available()) << "nginx with libnginx-mod-nchan is not installed";
    QTemporaryDir prefix;
    NginxFanOut nginx(prefix.path(), QStringLiteral(ZK_SITE_CONF), QStringLiteral(ZK_LIVE_PAGES));
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const int port = nginx.port();

    Desk desk;
    desk.key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                  {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "DM"},
                  {"LineCount", 4}, {"Accuracy", 2}};
    TFormMain &f = desk.create();
    auto view = std::make_unique<live::LiveView>(f);
    f.LiveSettings.PublishUrl = QStringLiteral("http://127.0.0.1:%1/verteiler").arg(port);
    view->apply();
    ASSERT_TRUE(waitUntil([&] { return view->AddressLabel->text().contains("Verteiler aktiv"); }, 10000))
        << view->AddressLabel->toolTip().toStdString() << nginx.errorLog().toStdString();
    auto stop = [&](int lane, std::uint32_t ms) {
        desk.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + ms;
        f.StopEntry(lane)->trigger();
    };

    // The pages come from nginx, as files, with the headers the desk's own server sends.
    const std::string board = fetch(port, "/anzeige");
    EXPECT_EQ(board.rfind("HTTP/1.1 200", 0), 0u) << board.substr(0, 300);
    EXPECT_NE(board.find("data-page=\"board\""), std::string::npos);
    EXPECT_NE(board.find("Content-Security-Policy: default-src 'none'"), std::string::npos);
    EXPECT_EQ(fetch(port, "/api/nothing").rfind("HTTP/1.1 404", 0), 0u);
    // Only the desk's address may publish.
    LiveClient intruder(port, "", true, {}, 9);
    intruder.send("POST /verteiler/heat HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
    ASSERT_TRUE(waitUntil([&] { return intruder.ended(); }, 5000));
    EXPECT_EQ(intruder.text().rfind("HTTP/1.1 403", 0), 0u) << intruder.text();

    // 50 stands on 127.0.0.2 .. 127.0.0.11: each has the whole state at once, then every change.
    std::vector<std::unique_ptr<LiveClient>> stands;
    for (int i = 0; i < 50; ++i)
        stands.push_back(std::make_unique<LiveClient>(port, "/events", true, kStream, 2 + i % 10));
    auto everyStand = [&](const std::function<bool(const LiveClient &)> &shows) {
        return waitUntil([&] { return std::all_of(stands.begin(), stands.end(), [&](auto &s) { return shows(*s); }); },
                         10000);
    };
    ASSERT_TRUE(everyStand([](const LiveClient &s) { return !s.lastSnapshot().empty() && !s.lastMeeting().empty(); }))
        << stands[0]->text();
    f.mStart->trigger();
    stop(3, 10230);
    EXPECT_TRUE(everyStand([](const LiveClient &s) {
        return laneField(s, 3, "place") == "1" && laneField(s, 3, "time") == "10,23";
    })) << stands[49]->text();

    // The fan-out goes away: the desk says so and races on.
    nginx.stop();
    ASSERT_TRUE(waitUntil([&] { return view->AddressLabel->text().contains("Verteiler nicht erreichbar"); }, 10000))
        << view->AddressLabel->text().toStdString();
    stop(1, 10450);
    EXPECT_EQ(live::SnapshotOf(f.Model).lanes[0].place, QStringLiteral("2"));

    // It comes back with nothing: the desk's newest state reaches it with nothing done at the desk.
    stands.clear();
    ASSERT_TRUE(nginx.start(port)) << nginx.error().toStdString();
    ASSERT_TRUE(waitUntil([&] { return view->AddressLabel->text().contains("Verteiler aktiv"); }, 15000));
    LiveClient late(port, "/events", true, kStream, 12);
    ASSERT_TRUE(waitUntil([&] { return laneField(late, 1, "place") == "2" && !late.lastMeeting().empty(); }, 5000))
        << late.text();
    EXPECT_EQ(laneField(late, 3, "time"), "10,23");
    view.reset();
}
