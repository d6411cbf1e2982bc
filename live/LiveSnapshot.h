#pragma once
// What the live results view shows: one immutable picture of the meeting (the heat on the desk, its
// lanes and the meeting's results table) and its JSON text, built from the meeting; the web server
// only ever reads finished snapshots.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

#include "Meeting.h"

namespace live {

// One lane row as the desk shows it.
struct LaneState {
    int lane = 0;
    QString number;
    QString name;
    QString time;         // the time label's text, trailing blanks removed; empty while running or "Aus"
    QString place;        // the place label's text
    bool running = false; // the desk's clock is counting for this lane
    bool stopped = false; // the lane shows a final time (opaque time label)
    bool on = true;       // the lane takes part (its check box is ticked)
    bool operator==(const LaneState &) const = default;
};

// One heat's block of the results table: the header row and the lane rows, 7 texts each, and the
// notes of its race (none for most).
struct HeatBlock {
    int heat = 0;
    std::vector<QString> header;
    std::vector<std::vector<QString>> rows;
    std::vector<QString> notes;
    bool operator==(const HeatBlock &) const = default;
};

// A ranking across the heats of one discipline and class: its heading and one row per athlete
// (place across the heats, heat, lane, number, name, note, time).
struct RankingBlock {
    QString title;
    std::vector<std::vector<QString>> rows;
    bool operator==(const RankingBlock &) const = default;
};

struct Snapshot {
    QString title;
    QString heatKind; // "Vorlauf" / "Endlauf"
    QString heat;     // the heat number as the heat field shows it
    QString discipline;
    QString className;
    QString wind; // the wind field's text, e.g. "1,5"
    bool running = false;      // some lane of the race still runs
    std::uint32_t start = 0;   // start instant on the desk's tick counter
    int accuracy = 1;          // 0 whole seconds, 1 tenths, 2 hundredths
    QString separator;         // the desk's decimal separator
    std::vector<LaneState> lanes;
    QString meetingTitle; // row 0 of the results table
    QString meetingDate;  // row 1
    std::vector<HeatBlock> heats;
    std::vector<RankingBlock> rankings; // of the entered heats, as the printed lists give them
    bool operator==(const Snapshot &) const = default;

    // The JSON object of this snapshot (UTF-8, compact), without the tick of the desk's clock.
    QByteArray toJson() const;
    // Its two parts, the members of the heat on the desk and those of the meeting ("meeting",
    // "heats", "rankings"), and the object made of them: the meeting's part is large and changes seldom.
    QByteArray heatMembers() const;
    QByteArray meetingMembers() const;
    static QByteArray joinMembers(const QByteArray &heat, const QByteArray &meeting);
};

// A text as the desk shows it, without trailing blanks.
QString trimmedRight(const QString &text);

// The meeting as the pages show it.
Snapshot SnapshotOf(const meeting::Meeting &m);
// The same in two parts: the heat on the desk (all but the meeting), and the meeting.
void ReadHeat(const meeting::Meeting &m, Snapshot &s);
void ReadMeeting(const meeting::Meeting &m, Snapshot &s);

} // namespace live
