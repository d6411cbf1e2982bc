// The snapshot of the desk: what the live view publishes must be what the desk shows.

#include "DeskFixture.h"
#include "LiveHttp.h"
#include "LiveSnapshot.h"

#include "Label3D.h"
#include "LbSpeedButton.h"
#include "SortGrid.h"

#include <QAction>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <gtest/gtest.h>

using live::Snapshot;
using live::SnapshotOf;

namespace {

struct Race : Desk {
    TFormMain *f;
    explicit Race(int lanes = 4, int accuracy = 2, bool oneBarrier = false)
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "DM"},
                 {"LineCount", lanes}, {"Accuracy", accuracy}, {"OneLS", oneBarrier ? 1 : 0}};
        f = &create();
    }
    void stopAt(int lane, std::uint32_t msAfterStart)
    {
        fp.ticks.now = static_cast<std::uint32_t>(f->Model.desk().start) + msAfterStart;
        f->StopEntry(lane)->trigger();
    }
    // The snapshot as the browser receives it.
    QJsonObject json() { return QJsonDocument::fromJson(SnapshotOf(f->Model).toJson()).object(); }
    QJsonObject lane(int n) { return json()["lanes"].toArray()[n - 1].toObject(); }
};

// "time|place|running|stopped" of one lane.
QString laneLine(const QJsonObject &l)
{
    return l["time"].toString() + "|" + l["place"].toString() + "|" + (l["running"].toBool() ? "run" : "-") + "|"
           + (l["stopped"].toBool() ? "stop" : "-");
}

} // namespace

TEST(LiveSnapshot, ARaceFromReadyToStoppMatchesTheDesk)
{
    Race r;
    TFormMain &f = *r.f;
    f.Line(1)->eNum->setText("123");
    f.Line(1)->eName->setText("Anna Läufer  ");
    f.Line(3)->cbON->setChecked(false);

    QJsonObject s = r.json();
    EXPECT_EQ(s["title"].toString(), "DM");
    EXPECT_EQ(s["heatKind"].toString(), "Vorlauf");
    EXPECT_EQ(s["heat"].toString(), "1");
    EXPECT_EQ(s["separator"].toString(), ",");
    EXPECT_EQ(s["accuracy"].toInt(), 2);
    EXPECT_FALSE(s["running"].toBool());
    ASSERT_EQ(s["lanes"].toArray().size(), 4);
    EXPECT_EQ(r.lane(1)["number"].toString(), "123");
    EXPECT_EQ(r.lane(1)["name"].toString(), "Anna Läufer"); // trailing blanks removed
    EXPECT_EQ(laneLine(r.lane(1)), "0,00||-|-");            // the desk shows "0,00 "
    EXPECT_FALSE(r.lane(3)["on"].toBool());

    f.mStart->trigger();
    s = r.json();
    EXPECT_TRUE(s["running"].toBool());
    EXPECT_EQ(static_cast<std::uint32_t>(s["start"].toDouble()), static_cast<std::uint32_t>(f.Model.desk().start));
    EXPECT_EQ(laneLine(r.lane(1)), "||run|-");
    EXPECT_EQ(laneLine(r.lane(3)), "0,00||-|-"); // switched off: not running, greyed zero
    // The running clock is the page's: the snapshot stays the same while the desk's clock counts.
    const Snapshot before = SnapshotOf(f.Model);
    r.fp.ticks.now += 1234;
    f.ClockTimer();
    EXPECT_EQ(SnapshotOf(f.Model), before);

    r.stopAt(2, 9876);
    r.stopAt(4, 65432);
    EXPECT_EQ(laneLine(r.lane(2)), "9,87|1|-|stop");
    EXPECT_EQ(laneLine(r.lane(4)), "1:05,43|2|-|stop");
    EXPECT_TRUE(r.json()["running"].toBool()); // lane 1 still runs

    f.Line(2)->eAusDblClick(); // the winner is out: no time, "Aus", lane 4 first
    EXPECT_EQ(laneLine(r.lane(2)), "|Aus|-|-");
    EXPECT_EQ(r.lane(4)["place"].toString(), "1");

    f.bStopClick(); // lane 1 never stopped: blanked, nothing runs any more
    s = r.json();
    EXPECT_FALSE(s["running"].toBool());
    EXPECT_EQ(laneLine(r.lane(1)), "||-|-");
}

TEST(LiveSnapshot, FalseStartAndTenthsAndAnOutRunnerWhileRunning)
{
    Race r(3, 1);
    TFormMain &f = *r.f;
    f.mStart->trigger();
    f.Line(2)->eAusDblClick(); // marked out while running: the desk shows no clock for it
    EXPECT_EQ(laneLine(r.lane(2)), "|Aus|-|-");
    EXPECT_TRUE(r.json()["running"].toBool());
    const QJsonObject running = r.json();
    f.bFehlStart->click();
    EXPECT_NE(r.json(), running);
    EXPECT_FALSE(r.json()["running"].toBool());
    for (int lane = 1; lane <= 3; ++lane)
        EXPECT_EQ(laneLine(r.lane(lane)), "0,0||-|-") << lane;

    f.mStart->trigger();
    r.stopAt(1, 12345);
    EXPECT_EQ(laneLine(r.lane(1)), "12,3|1|-|stop");
    EXPECT_EQ(r.json()["accuracy"].toInt(), 1);
}

TEST(LiveSnapshot, OneBarrierTimesFromTheFinishList)
{
    Race r(3, 2, true);
    TFormMain &f = *r.f;
    f.mStart->trigger();
    f.AddFinishTime(9910);
    f.AddFinishTime(10020);
    f.bStopClick();
    f.StopEntry(3)->trigger(); // hands out the first finish time
    EXPECT_EQ(laneLine(r.lane(3)), "9,91|1|-|stop");
    EXPECT_EQ(laneLine(r.lane(1)), "||-|-");
    EXPECT_FALSE(r.json()["running"].toBool());
}

TEST(LiveSnapshot, HeatsAreTheResultsTableBlocks)
{
    Race r(2);
    TFormMain &f = *r.f;
    f.Line(1)->eName->setText("Anna");
    f.mStart->trigger();
    r.stopAt(1, 10230);
    r.stopAt(2, 11000);
    f.bProtokollClick(); // heat 1 entered, heat 2 on the desk

    const QJsonObject s = r.json();
    EXPECT_EQ(s["heat"].toString(), "2");
    EXPECT_EQ(s["meeting"].toObject()["title"].toString(), "DM");
    const QJsonArray heats = s["heats"].toArray();
    ASSERT_EQ(heats.size(), 1);
    const QJsonObject h = heats[0].toObject();
    EXPECT_EQ(h["heat"].toInt(), 1);
    EXPECT_EQ(h["header"].toArray()[0].toString(), "1");
    const QJsonArray rows = h["rows"].toArray();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toArray()[0].toString(), "1.");
    EXPECT_EQ(rows[0].toArray()[2].toString(), "Anna");
    EXPECT_EQ(rows[0].toArray()[5].toString(), "10,23"); // the table holds "10,23 "
    EXPECT_EQ(rows[1].toArray()[6].toString(), "2");
    EXPECT_FALSE(h.contains("notes")); // a heat without notes reads as before
    // A race with its signal interrupted carries its notes.
    f.Model.recordToWrite().raceLogs.insert(1, {QStringLiteral("Signal COM3 unterbrochen 12:00:00,005\u2013")});
    const QJsonArray noted = r.json()["heats"].toArray();
    EXPECT_EQ(noted[0].toObject()["notes"].toArray().at(0).toString(),
              QStringLiteral("Signal COM3 unterbrochen 12:00:00,005\u2013"));

    // A start list's heat further down counts as soon as its block holds a text.
    f.Model.recordToWrite().setRowCount(40);
    f.Model.recordToWrite().setCell(2, TFormMain::HeatHeaderRow(4, 2) + 1, "Berta");
    const QJsonArray more = r.json()["heats"].toArray();
    ASSERT_EQ(more.size(), 2);
    EXPECT_EQ(more[1].toObject()["heat"].toInt(), 4);
}

TEST(LiveSnapshot, TextsFromTheDeskCannotBreakOutOfThePage)
{
    Snapshot s;
    s.title = "Meeting \"A\" </script><img src=x onerror=alert(1)> & \\ \n\t\x01 \u2028";
    live::LaneState l;
    l.lane = 1;
    l.name = "O'Neil <b>";
    s.lanes.push_back(l);
    const QByteArray json = s.toJson();
    EXPECT_FALSE(json.contains('<'));
    EXPECT_FALSE(json.contains('>'));
    EXPECT_FALSE(json.contains('\n'));
    live::Published published;
    published.heat = s.heatMembers();
    published.meeting = s.meetingMembers();
    const std::string state = published.state(4294967295u);
    EXPECT_EQ(state, "{\"tick\":4294967295," + json.mid(1).toStdString()); // the state is the snapshot's JSON
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(state), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.constData();
    EXPECT_EQ(o["title"].toString(), s.title);
    EXPECT_EQ(o["lanes"].toArray()[0].toObject()["name"].toString(), l.name);
    EXPECT_EQ(static_cast<std::uint32_t>(o["tick"].toDouble()), 4294967295u);
}

TEST(LiveSnapshot, EveryControlCharacterIsEscaped)
{
    // Names pasted from a start list may carry any of them; JSON allows none raw in a string.
    Snapshot s;
    for (char16_t u = 0; u < 0x20; ++u)
        s.title += QChar(u);
    live::LaneState l;
    l.name = QStringLiteral("A\x1f" "B");
    s.lanes.push_back(l);
    const QByteArray json = s.toJson();
    for (const char c : json)
        ASSERT_GE(static_cast<unsigned char>(c), 0x20u) << json.toHex().constData();
    EXPECT_TRUE(json.contains("\\u0000\\u0001"));
    EXPECT_TRUE(json.contains("\"A\\u001fB\""));
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(json, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_EQ(o["title"].toString(), s.title);
    EXPECT_EQ(o["lanes"].toArray()[0].toObject()["name"].toString(), l.name);
}

TEST(LiveSnapshot, TheMeetingCarriesTheRankingsAcrossHeats)
{
    Race r(2);
    TFormMain &f = *r.f;
    EXPECT_TRUE(r.json()["rankings"].toArray().isEmpty());
    auto heat = [&](const char *first, int t1, const char *second, int t2) {
        f.Line(1)->eName->setText(QString::fromUtf8(first));
        f.Line(2)->eName->setText(QString::fromUtf8(second));
        f.mStart->trigger();
        r.stopAt(1, static_cast<std::uint32_t>(t1));
        r.stopAt(2, static_cast<std::uint32_t>(t2));
        f.bProtokollClick();
    };
    heat("Anna", 10230, "Berta", 11000);
    EXPECT_TRUE(r.json()["rankings"].toArray().isEmpty()); // one heat ranks nothing across heats
    heat("Carla", 10500, "Dora", 10230);

    const QJsonArray rankings = r.json()["rankings"].toArray();
    ASSERT_EQ(rankings.size(), 1);
    const QJsonObject ranking = rankings[0].toObject();
    EXPECT_TRUE(ranking["title"].toString().startsWith(QString::fromUtf8("Gesamtwertung"))) << ranking["title"].toString().toStdString();
    QStringList rows;
    for (const QJsonValue &row : ranking["rows"].toArray()) {
        QStringList cells;
        for (const QJsonValue &c : row.toArray())
            cells << c.toString();
        rows << cells.join(QLatin1Char('|'));
    }
    EXPECT_EQ(rows, (QStringList{"1|1|1||Anna||10,23", "1|2|2||Dora||10,23", "3|2|1||Carla||10,50",
                                 "4|1|2||Berta||11,00"}));
}
