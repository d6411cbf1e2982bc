// The meeting as data, without a window: the race's commands, the table's record of a heat and its
// layout, and what each change tells its observers.

#include "Meeting.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using meeting::LaneTime;
using meeting::Meeting;
using meeting::RaceState;

namespace {

constexpr std::uint32_t kStart = 5000;
constexpr std::int64_t ms(int t) { return std::int64_t{t} * 1000000; }

// A meeting of n lanes, hundredths, its race started at kStart.
struct Race : Meeting {
    explicit Race(int lanes = 4)
    {
        setLanes(lanes);
        setAccuracy(2);
        for (int i = 1; i <= lanes; ++i)
            setName(i, QStringLiteral("L%1").arg(i));
        start(kStart, QStringLiteral("12:00:00"));
    }
    void stop(int n, int t, int nanos = -1) { stopLane(n, kStart + static_cast<std::uint32_t>(t), ms(nanos < 0 ? t : nanos)); }
    QString places() const
    {
        QStringList out;
        for (int i = 1; i <= lanes(); ++i)
            out << lane(i).place;
        return out.join(QLatin1Char(' '));
    }
};

} // namespace

TEST(LaneTime, EveryKindIsShownAsTheDeskShowsIt)
{
    const struct {
        LaneTime time;
        const char *shown;
        std::int32_t thousandths;
    } cases[] = {
        {LaneTime::empty(), "", 0},
        {LaneTime::zero(2), "0,00 ", 0},
        {LaneTime::zero(1), "0,0 ", 0},
        {LaneTime::taken(10231, 2, false), "10,23 ", 10231},
        {LaneTime::taken(10231, 2, true), "10,24 ", 10231},
        {LaneTime::taken(10231, 2, true, false), "10,24", 10231}, // a finish-list entry has no blank
        {LaneTime::taken(65432, 1, false), "1:05,4 ", 65432},
        {LaneTime::fromText(QStringLiteral("Zeit von Hand")), "Zeit von Hand", 0},
        {LaneTime::fromText(QStringLiteral("10,50")), "10,50", 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.time.shown(), QString::fromUtf8(c.shown));
        EXPECT_EQ(c.time.thousandths(), c.thousandths) << c.shown;
    }
    EXPECT_EQ(LaneTime::fromText(QStringLiteral("10,50")).ms, 10500); // read for the order of places
}

TEST(Race, PlacesFollowTheStopInstantsAndTheLastStopEndsTheRace)
{
    Race r;
    QSignalSpy lanes(&r, &Meeting::laneChanged);
    r.stop(3, 10100);
    r.stop(1, 10300);
    r.stop(2, 10200, 10200); // handed over after lane 1, taken before it: lane 1 moves down
    EXPECT_EQ(r.places(), QStringLiteral("3 2 1 "));
    QList<int> told;
    for (const QList<QVariant> &call : lanes)
        told << call.at(0).toInt();
    EXPECT_EQ(told, (QList<int>{3, 1, 1, 2})); // the moved lane is told too
    EXPECT_EQ(r.desk().state, RaceState::Running);
    r.stop(4, 0); // within the start's own millisecond
    EXPECT_EQ(r.lane(4).laneTime, 1);
    EXPECT_EQ(r.desk().state, RaceState::Stopped);
    EXPECT_EQ(r.desk().placingOrder, (std::vector<int>{4, 3, 2, 1}));
}

TEST(Race, StoppBlanksTheLanesThatRunAndTheirKeysStillStopThem)
{
    Race r;
    r.stop(2, 9870);
    r.stopRace();
    EXPECT_EQ(r.lane(1).time.shown(), QString());
    EXPECT_EQ(r.lane(2).time.shown(), QStringLiteral("9,87 "));
    EXPECT_TRUE(r.lane(1).running);
    r.stop(1, 30000);
    EXPECT_EQ(r.lane(1).time.shown(), QStringLiteral("30,00 "));
    EXPECT_EQ(r.lane(1).place, QStringLiteral("2"));
    r.reset();
    EXPECT_EQ(r.lane(1).time.shown(), QStringLiteral("0,00 "));
    EXPECT_FALSE(r.lane(3).running);
    EXPECT_EQ(r.desk().state, RaceState::Ready);
}

TEST(Race, AusAndBackCountsThePlacesAgainInTheOrderTheyWereGiven)
{
    Race r;
    r.stop(1, 10000, 1);
    r.stop(2, 10000, 2); // the same millisecond, placed after lane 1
    r.stop(3, 9000, 3);  // a line edge handed over last
    r.stop(4, 12000, 4);
    r.toggleOut(3);
    EXPECT_EQ(r.places(), QStringLiteral("1 2 Aus 3"));
    EXPECT_TRUE(r.lane(3).hidden);
    r.setPlaceText(4, QStringLiteral("disq."));
    r.toggleOut(3);
    EXPECT_EQ(r.places(), QStringLiteral("2 3 1 disq."));

    // A lane marked "Aus" while the others still run leaves no gap in the places behind it, by
    // stop key and in the one-barrier mode alike.
    Race late(3);
    late.stop(1, 10000);
    late.toggleOut(1);
    late.stop(2, 11000);
    late.stop(3, 12000);
    EXPECT_EQ(late.places(), QStringLiteral("Aus 1 2"));
    Race list(3);
    list.setOneBarrier(true);
    for (int t : {9910, 10020, 10100})
        list.addFinishTime(t);
    list.stopRace();
    list.assignFinishEntry(2, 0);
    list.toggleOut(2);
    list.assignFinishEntry(1, 0);
    list.assignFinishEntry(3, 0);
    EXPECT_EQ(list.places(), QStringLiteral("1 Aus 2"));
}

TEST(Race, TheFinishListHandsOutItsTimesAndPlaces)
{
    Race r(3);
    r.setOneBarrier(true);
    r.addFinishTime(9910);
    r.addFinishTime(10020);
    r.stopRace();
    r.assignFinishEntry(3, 0);
    EXPECT_EQ(r.lane(3).time.shown(), QStringLiteral("9,91"));
    EXPECT_EQ(r.lane(3).laneTime, 9910);
    r.assignFinishEntry(1, 0);
    EXPECT_EQ(r.places(), QStringLiteral("2  1"));
    EXPECT_TRUE(r.desk().finishList.empty());
    EXPECT_EQ(r.desk().finishListTag, 0); // the next list counts from 1 again
}

TEST(Record, AnEnteredHeatKeepsItsTimesToTheMillisecondAndLoadsBack)
{
    Race r(2);
    r.setRoundUp(true);
    r.setWind(QStringLiteral("0,0"), 0, QStringLiteral("m/s"));
    r.recordToWrite().setCell(4, 2, QStringLiteral("+0,3 m/s")); // a wind of 0 keeps what was there
    r.recordToWrite().setCell(3, 3, QStringLiteral("Ersatz"));  // the lanes' own column stays
    r.stop(1, 10231);
    r.stop(2, 10238);
    QSignalSpy entered(&r, &Meeting::heatEntered);
    r.enterHeat();
    EXPECT_EQ(entered.count(), 1);
    EXPECT_EQ(r.record().row(2), (meeting::Row{"1", "", "", "", "+0,3 m/s", "12:00:00", ""}));
    EXPECT_EQ(r.record().row(3), (meeting::Row{"1.", "", "L1", "Ersatz", "", "10,24 ", "1"}));
    EXPECT_EQ(r.record().heat(1).lanes[1].time.thousandths(), 10238);

    r.reset();
    r.setName(1, QString());
    r.loadHeat();
    EXPECT_EQ(r.lane(1).name, QStringLiteral("L1"));
    EXPECT_EQ(r.lane(1).laneTime, 10231); // not the 10 240 the text reads
    // Entered again after another race was run, the heat keeps the start time it was run at.
    r.start(kStart, QStringLiteral("12:30:00"));
    r.stopRace();
    r.reset();
    r.loadHeat();
    r.enterHeat();
    EXPECT_EQ(r.record().row(2)[5], QStringLiteral("12:00:00"));
    EXPECT_EQ(r.record().row(3)[5], QStringLiteral("10,24 "));
    // A start list begins another meeting: what stays of the table keeps no thousandths.
    r.beginStartList({});
    EXPECT_EQ(r.record().heat(1).lanes[0].time.thousandths(), 0);
    EXPECT_EQ(r.record().row(3)[5], QStringLiteral("10,24 "));
}

TEST(Record, AnotherLaneCountReadsTheSameRowsWithItsLayout)
{
    meeting::Record t(2); // heat 1: rows 2..4, heat 2: rows 5..7
    t.setCell(0, 5, QStringLiteral("2"));
    t.at(6).time = LaneTime::taken(7001, 2, false);
    EXPECT_EQ(t.heat(2).lanes[0].time.thousandths(), 7001);
    t.setLanes(3); // heat 1: rows 2..5
    EXPECT_EQ(t.heat(1).lanes[2].lane, QStringLiteral("2"));
    EXPECT_EQ(t.heat(2).header[5], QStringLiteral("7,00 "));
    EXPECT_EQ(t.rowCount(), 13);
    EXPECT_EQ(t.row(40)[0], QString()); // beyond the table
    EXPECT_EQ(t.rowCount(), 13);
}

TEST(RaceLog, APortWithoutSignalDuringTheRaceIsNotedAndEnteredWithItsHeat)
{
    Race r(2);
    QSignalSpy changed(&r, &Meeting::raceChanged);
    r.portLost(QStringLiteral("COM5"), QTime(12, 3, 44, 120));
    r.portLost(QStringLiteral("COM5"), QTime(12, 3, 45, 0)); // the same loss told twice
    EXPECT_EQ(r.raceLog(), QStringList{QStringLiteral("Signal COM5 unterbrochen 12:03:44,120\u2013")});
    EXPECT_EQ(changed.count(), 1);
    r.portBack(QStringLiteral("COM5"), QTime(12, 3, 51, 870));
    EXPECT_EQ(r.raceLog(), QStringList{QStringLiteral("Signal COM5 unterbrochen 12:03:44,120\u201312:03:51,870")});
    r.portLost(QStringLiteral("COM2"), QTime(9, 0, 1, 5));
    r.stop(1, 10000);
    r.stop(2, 10100);
    r.portLost(QStringLiteral("COM3"), QTime(12, 4, 0)); // the race is over: not noted
    const QStringList log{QStringLiteral("Signal COM5 unterbrochen 12:03:44,120\u201312:03:51,870"),
                          QStringLiteral("Signal COM2 unterbrochen 09:00:01,005\u2013")};
    EXPECT_EQ(r.raceLog(), log);
    r.enterHeat();
    EXPECT_EQ(r.record().raceLogs.value(1), log);
    EXPECT_EQ(r.record().heat(1).raceLog, log);

    // The next race starts with the ports still without signal, from when they went; a port the
    // settings closed is not noted any more.
    r.reset();
    r.portForgotten(QStringLiteral("COM2"));
    r.setHeatNumber(2);
    r.start(kStart, QStringLiteral("12:10:00"));
    EXPECT_EQ(r.raceLog(), QStringList{QStringLiteral("Signal COM3 unterbrochen 12:04:00,000\u2013")});
    r.portBack(QStringLiteral("COM3"), QTime(12, 10, 2, 500));
    r.reset();
    r.start(kStart, QStringLiteral("12:20:00"));
    EXPECT_TRUE(r.raceLog().isEmpty());
    // A heat entered again without an interruption keeps no notes from before.
    r.setHeatNumber(1);
    r.stop(1, 9000);
    r.stop(2, 9100);
    r.enterHeat();
    EXPECT_FALSE(r.record().raceLogs.contains(1));
}

TEST(RaceLog, TheClearingOfABarrierBlockedAtTheStartStopsNothing)
{
    // edge setting, the edge after the start, whether it is taken as the clearing
    const struct {
        int edge;
        bool active;
        bool clearing;
    } cases[] = {{0, false, true}, {0, true, false}, {1, true, true}, {1, false, false}};
    for (const auto &c : cases) {
        Race r(3);
        r.setEdge(c.edge);
        r.setBlockedAtStart(2, true);
        EXPECT_FALSE(r.takeClearingEdge(1, c.active)); // lane 1 was clear
        EXPECT_EQ(r.takeClearingEdge(2, c.active), c.clearing) << c.edge << c.active;
        EXPECT_FALSE(r.takeClearingEdge(2, !c.active)); // only the first edge after the start
        r.setBlockedAtStart(3, true);
        r.reset();
        r.start(kStart, QStringLiteral("12:00:00"));
        EXPECT_FALSE(r.lane(3).blockedAtStart); // each start decides anew
    }
}
