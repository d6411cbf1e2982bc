// The results lists as data: a heat's lanes in the order of their places, and the rankings across
// heats, read from the texts of the results table.

#include "ResultsList.h"

#include <QStringList>

#include <gtest/gtest.h>

using results::HeatResult;
using results::LaneResult;
using results::Ranking;

namespace {

using Row = std::vector<QString>;

// A heat's header row: heat, kind, discipline, class, wind, start time.
Row header(int heat, const QString &kind, const QString &discipline, const QString &klass, const QString &wind = {})
{
    return {QString::number(heat), kind, discipline, klass, wind, QStringLiteral("14:05:33"), {}};
}

// A lane row as "Eintragen" writes it: lane, number, name, –, note, time (with the label's blank), place.
Row lane(int i, const QString &number, const QString &name, const QString &time, const QString &place,
         const QString &note = {})
{
    return {QString::number(i) + QLatin1Char('.'), number, name, {}, note, time, place};
}

QStringList names(const HeatResult &h)
{
    QStringList out;
    for (const LaneResult &l : h.lanes)
        out << l.name;
    return out;
}

QStringList column(const Ranking &r, bool places)
{
    QStringList out;
    for (const results::RankedLane &l : r.lanes)
        out << (places ? l.place : l.lane.name);
    return out;
}

} // namespace

TEST(ResultsList, AHeatListsPlacesFirstThenTheTextsAndLeavesEmptyLanesOut)
{
    const HeatResult h = results::readHeat(
        3, header(3, QStringLiteral("Vorlauf"), QStringLiteral("100 m"), QStringLiteral("Männer"), "0,5 m/s"),
        {lane(1, "101", "Anna", "", "Aus"),
         lane(2, "102", "Berta", "10,87 ", "2", "LG Nord"),
         lane(3, {}, {}, {}, {}), // nobody in lane 3
         lane(4, "104", "Cora", "10,51 ", "1"),
         lane(5, "105", "Dora", "", "disq."),
         lane(6, " ", " Eva ", "", ""), // a start list's blanks, not stopped
         lane(7, "107", "Fee", "11,02 ", "3")});
    EXPECT_EQ(names(h), (QStringList{"Cora", "Berta", "Fee", "Anna", "Dora", "Eva"}));
    EXPECT_EQ(h.lanes[0], (LaneResult{4, "1", "104", "Cora", "", "10,51", 0, 10510}));
    EXPECT_EQ(h.lanes[1].note, QStringLiteral("LG Nord"));
    EXPECT_EQ(h.lanes[3].place, QStringLiteral("Aus"));
    EXPECT_EQ(h.lanes[5].number, QString());
    EXPECT_EQ(h.heading(), QStringLiteral("Vorlauf 3 · 100 m · Männer · Wind +0,5 m/s"));

    // Head wind keeps its sign; without kind, class and wind the heading says what it has.
    EXPECT_EQ(results::readHeat(1, header(1, "Endlauf", "200 m", "Frauen", "-1,2 m/s"), {}).heading(),
              QStringLiteral("Endlauf 1 · 200 m · Frauen · Wind -1,2 m/s"));
    EXPECT_EQ(results::readHeat(12, header(12, {}, "60 m", {}), {}).heading(), QStringLiteral("Lauf 12 · 60 m"));
    // Places of two digits sort as numbers.
    const HeatResult big = results::readHeat(
        1, header(1, {}, {}, {}), {lane(1, "1", "Zehn", "12,00 ", "10"), lane(2, "2", "Neun", "11,90 ", "9")});
    EXPECT_EQ(names(big), (QStringList{"Neun", "Zehn"}));
}

TEST(ResultsList, RankingAcrossHeatsSharesPlacesOfEqualShownTimesAndPutsTextsLast)
{
    const QString kind = QStringLiteral("Vorlauf"), d = QStringLiteral("100 m"), k = QStringLiteral("Männer");
    const std::vector<HeatResult> heats{
        results::readHeat(2, header(2, kind, d, k),
                          {lane(1, "21", "B1", "10,40 ", "1"), lane(2, "22", "B2", "", "Aus"),
                           lane(3, "23", "B2b", "10,62 ", "2"), lane(4, "24", "B3", "1:00,10 ", "3")}),
        results::readHeat(1, header(1, kind, d, k),
                          {lane(1, "11", "A1", "10,40 ", "1"), lane(2, "12", "A2", "10,62 ", "2"),
                           lane(3, "13", "A3", "10,62 ", "3"), lane(4, "14", "A4", "59,99 ", "4"),
                           lane(5, "15", "A5", "", "disq.")}),
        // The final is a round of its own and another class is another ranking.
        results::readHeat(3, header(3, QStringLiteral("Endlauf"), d, k), {lane(1, "11", "A1", "10,30 ", "1")}),
        results::readHeat(4, header(4, kind, d, QStringLiteral("Frauen")), {lane(1, "41", "F1", "12,00 ", "1")}),
    };
    const std::vector<Ranking> rankings = results::rankingsOf(heats);
    ASSERT_EQ(rankings.size(), 1u);
    const Ranking &r = rankings[0];
    EXPECT_EQ(r.heading(), QStringLiteral("Gesamtwertung · Vorlauf · 100 m · Männer"));
    EXPECT_EQ(r.heats, (std::vector<int>{1, 2}));
    // Equal times share a place, the next place counts them; heat and place in the heat order them.
    EXPECT_EQ(column(r, false), (QStringList{"A1", "B1", "A2", "A3", "B2b", "A4", "B3", "A5", "B2"}));
    EXPECT_EQ(column(r, true), (QStringList{"1", "1", "3", "3", "3", "6", "7", "disq.", "Aus"}));
    EXPECT_EQ(r.lanes[1].heat, 2);
    EXPECT_EQ(r.lanes[1].lane.lane, 1);
}

TEST(ResultsList, RankingTakesOnlyPlacesWithTimesAndNeedsTwoHeats)
{
    // A place number without a time (a lane given a place by hand) is no place across heats.
    const std::vector<HeatResult> heats{
        results::readHeat(1, header(1, {}, "60 m", {}),
                          {lane(1, "1", "Ohne Zeit", "", "1"), lane(2, "2", "Zeit", "7,80 ", "2")}),
        results::readHeat(5, header(5, {}, "60 m", {}), {lane(1, "3", "Leer", "", "")}),
    };
    const std::vector<Ranking> rankings = results::rankingsOf(heats);
    ASSERT_EQ(rankings.size(), 1u);
    EXPECT_EQ(column(rankings[0], false), (QStringList{"Zeit", "Ohne Zeit", "Leer"}));
    EXPECT_EQ(column(rankings[0], true), (QStringList{"1", "", ""}));
    EXPECT_EQ(rankings[0].heading(), QStringLiteral("Gesamtwertung · 60 m"));

    EXPECT_TRUE(results::rankingsOf({heats[0]}).empty());
}

TEST(ResultsList, TiesTakenApartToTheMillisecondShowTheirThousandths)
{
    results::ResultsDocument doc;
    // Heat 1: lanes 2 and 3 share 10,24 (10,231 and 10,238), lane 1 (10,30) stands alone, lane 4 is out.
    doc.heats.push_back(results::readHeat(1, header(1, "Vorlauf", "100 m", "Männer"),
                                          {lane(1, "1", "Arno", "10,30 ", "3"), lane(2, "2", "Bert", "10,24 ", "1"),
                                           lane(3, "3", "Carl", "10,24 ", "2"), lane(4, "4", "Dirk", "10,24 ", "Aus")},
                                          {10300, 10231, 10238, 10240}));
    // Heat 2: a tie whose milliseconds were not kept is left as it is.
    doc.heats.push_back(results::readHeat(2, header(2, "Vorlauf", "100 m", "Männer"),
                                          {lane(1, "5", "Emil", "10,24 ", "1"), lane(2, "6", "Fritz", "10,24 ", "2")},
                                          {10233, 0}));
    doc.rankings = results::rankingsOf(doc.heats);
    results::markTiesWithThousandths(doc);

    QStringList times;
    for (const LaneResult &l : doc.heats[0].lanes)
        times << l.time;
    EXPECT_EQ(times, (QStringList{"10,24 (10,231)", "10,24 (10,238)", "10,30", "10,24"}));
    EXPECT_EQ(doc.heats[1].lanes[0].time, QStringLiteral("10,24"));
    EXPECT_EQ(doc.heats[1].lanes[1].time, QStringLiteral("10,24"));
    // Across the heats the shown time decides the shared place; only the lanes whose milliseconds are
    // known carry them, and only where the shown time is shared by all of them.
    ASSERT_EQ(doc.rankings.size(), 1u);
    QStringList ranked;
    for (const results::RankedLane &r : doc.rankings[0].lanes)
        ranked << r.place + QLatin1Char(' ') + r.lane.time;
    EXPECT_EQ(ranked, (QStringList{"1 10,24", "1 10,24", "1 10,24", "1 10,24", "5 10,30", "Aus 10,24"}));
}

TEST(ResultsList, TiesAtTheShownTimeAreDecidedByTheKeptThousandths)
{
    // Heat 1 and 2 of one discipline, entered truncated ("10,23") or rounded up ("10,24"): the
    // thousandths decide, only equal thousandths share, and every decided tie shows them.
    struct Case {
        const char *shown;
        std::vector<std::int32_t> heat1, heat2; // lanes 1, 2 of heat 1 and lanes 1, 2 of heat 2 (D: 10,30)
        QStringList places;                     // of the ranking, in its order
        QStringList times;
        QStringList heat1Times; // heat 1's block, by place
    };
    const Case cases[] = {
        {"10,23", {10231, 10238}, {10233, 10300}, {"1", "2", "3", "4"},
         {"10,23 (10,231)", "10,23 (10,233)", "10,23 (10,238)", "10,30"}, {"10,23 (10,231)", "10,23 (10,238)"}},
        {"10,24", {10231, 10238}, {10233, 10300}, {"1", "2", "3", "4"},
         {"10,24 (10,231)", "10,24 (10,233)", "10,24 (10,238)", "10,30"}, {"10,24 (10,231)", "10,24 (10,238)"}},
        // Equal thousandths share the place and need no mark in their own heat.
        {"10,24", {10231, 10231}, {10233, 10300}, {"1", "1", "3", "4"},
         {"10,24 (10,231)", "10,24 (10,231)", "10,24 (10,233)", "10,30"}, {"10,24", "10,24"}},
        // Heat 2 from a start list (no thousandths): its tie with heat 1 cannot be decided.
        {"10,24", {10231, 10238}, {0, 0}, {"1", "1", "1", "4"}, {"10,24", "10,24", "10,24", "10,30"},
         {"10,24 (10,231)", "10,24 (10,238)"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.shown);
        const QString t = QString::fromLatin1(c.shown) + QLatin1Char(' ');
        results::ResultsDocument doc;
        doc.heats.push_back(results::readHeat(1, header(1, {}, "100 m", {}),
                                              {lane(1, "1", "A", t, "1"), lane(2, "2", "B", t, "2")}, c.heat1));
        doc.heats.push_back(results::readHeat(2, header(2, {}, "100 m", {}),
                                              {lane(1, "3", "C", t, "1"), lane(2, "4", "D", "10,30 ", "2")}, c.heat2));
        doc.rankings = results::rankingsOf(doc.heats);
        results::markTiesWithThousandths(doc);
        ASSERT_EQ(doc.rankings.size(), 1u);
        QStringList places, times, heat1;
        for (const results::RankedLane &r : doc.rankings[0].lanes) {
            places << r.place;
            times << r.lane.time;
        }
        for (const LaneResult &l : doc.heats[0].lanes)
            heat1 << l.time;
        EXPECT_EQ(places, c.places);
        EXPECT_EQ(times, c.times);
        EXPECT_EQ(heat1, c.heat1Times);
    }
}
