#pragma once
// The results lists of a meeting: each heat with its lanes in the order of their places, and the
// ranking across the heats of one discipline and class ("Gesamtwertung"). Pure functions of the
// meeting's table; the printed and PDF lists are drawn from them, and the live view shows them.

#include "Meeting.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace results {

// One lane of a heat as the table records it, every text without blanks around it.
struct LaneResult {
    int lane = 0;
    QString place; // "1", "2" ... or a place text ("Aus", "disq.", "aufg."), or empty
    QString number;
    QString name;
    QString note;
    QString time; // as the desk showed it: "10,23", "1:05,43"; empty for "Aus"
    std::int32_t millis = 0; // the lane time to the millisecond where the desk kept it, else 0 (a start list's)
    std::int32_t shownMs = 0; // the time as shown, in milliseconds (10,23: 10 230); 0 for none
    bool operator==(const LaneResult &) const = default;
};

struct HeatResult {
    int heat = 0;
    QString kind; // "Vorlauf", "Endlauf", as entered
    QString discipline;
    QString className;
    QString wind; // "+0,5 m/s"; empty where none was entered
    // The placed lanes by place, then the lanes without a place in lane order; empty lanes left out.
    std::vector<LaneResult> lanes;
    // The notes of its race, shown under its lanes ("Signal COM5 unterbrochen 12:03:44,120–…").
    QStringList notes;

    // "Vorlauf 1 · 100 m · Männer · Wind +0,5 m/s"; a part that is empty is left out.
    QString heading() const;
};

// One athlete in a ranking across heats.
struct RankedLane {
    QString place; // the place across the heats, shared by equal times; or the lane's place text
    int heat = 0;
    LaneResult lane;
};

struct Ranking {
    QString kind;
    QString discipline;
    QString className;
    std::vector<int> heats; // the heats ranked together, in ascending order
    // By time (rankingsOf tells how ties are decided); then the lanes without a time ("Aus", "disq.").
    std::vector<RankedLane> lanes;

    // "Gesamtwertung · Vorlauf · 100 m · Männer"
    QString heading() const;
};

// What a results list holds: the meeting's title and date, heats and rankings.
struct ResultsDocument {
    QString title;
    QString date;
    std::vector<HeatResult> heats;
    std::vector<Ranking> rankings;
    bool isEmpty() const { return heats.empty() && rankings.empty(); }
};

// The time a list shows for a time cell of the table: the time exactly as the desk showed it.
QString listTime(const QString &cell);

// A heat from its block of the results table.
HeatResult readHeat(const meeting::HeatRecord &heat);
// The same from the texts of the block: the header row (heat, kind, discipline, class, wind, start
// time) and the lane rows 1..L (lane, number, name, –, note, time, place), as 7 texts each.
// laneMillis: the lane times to the millisecond where the desk kept them (0: not kept), by lane row.
HeatResult readHeat(int heat, const std::vector<QString> &header, const std::vector<std::vector<QString>> &laneRows,
                    const std::vector<std::int32_t> &laneMillis = {});

// The lists of a meeting's entered heats, by heat number, with their rankings across heats and the
// ties marked; title: the lists' heading (empty: the table's title).
ResultsDocument documentOf(const meeting::Record &record, const QString &title = {});

// The rankings across heats: one for every kind, discipline and class that has more than one of the
// given heats, in the order of their first heat. Times are compared as they are shown; equal shown
// times are taken apart by the lanes' milliseconds where every one of them was kept, and share the
// place where the milliseconds are equal or not all known.
std::vector<Ranking> rankingsOf(const std::vector<HeatResult> &heats);

// Marks times that are equal as shown but were taken apart to the millisecond: "10,24 (10,231)",
// in the heats (placed lanes) and the rankings, so that the referee sees how the tie was decided.
// Only runs whose milliseconds were all kept and differ are marked. Call it after the rankings were made.
void markTiesWithThousandths(ResultsDocument &document);

} // namespace results
