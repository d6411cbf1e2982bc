#pragma once
// The meeting as data: what the desk records of a whole meeting (its results table: the title, the
// date and one block of rows a heat) and the heat on the desk with the race being run on it. No
// widget: the window shows this and turns keys, clicks, line edges and edits into its commands;
// the journal, the files, the results lists and the live view read it.
//
// Times are kept in milliseconds together with how they are shown; every time text comes from the
// one formatting of TimeText.h. A time that came as text (a start list, a journal of an earlier
// build) stays that text.

#include "HeatOrigin.h"

#include <QDate>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTime>

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace meeting {

inline constexpr int kColumns = 7;   // texts a row of the results table has
inline constexpr int kLaneRows = 12; // lane rows of the desk
inline constexpr int kMaxHeat = 100; // heats the heat field offers
inline constexpr int kMaxRaceNotes = 100; // notes of one race; an interruption beyond them is not noted

// One row of the results table as texts: what the row-wise files (text, CSV, workbook) and the
// start lists carry.
using Row = std::array<QString, kColumns>;

// What the time of a lane holds: nothing, the zero of a lane that has not run, a time the desk took,
// or a text that came from outside.
struct LaneTime {
    enum class Kind : std::uint8_t { Empty, Zero, Taken, Text };
    Kind kind = Kind::Empty;
    std::int32_t ms = 0;  // Taken: the lane time; Text: what the text reads as (0 when it reads as none)
    int accuracy = 2;     // Zero, Taken: 0 whole seconds, 1 tenths, 2 hundredths
    bool roundUp = false; // Taken: rounded up to the shown resolution, as the rules ask; else truncated
    bool blank = true;    // Zero, Taken: followed by a blank, as the desk's time label writes it
    QString text;         // Text: as it came

    static LaneTime empty() { return {}; }
    static LaneTime zero(int accuracy);
    static LaneTime taken(std::int32_t ms, int accuracy, bool roundUp, bool blank = true);
    // A text from outside; ms is what it reads as.
    static LaneTime fromText(const QString &text);

    // The text the desk shows and records: "10,23 ", "1:05,4 ", "0,00 ", a start list's text.
    QString shown() const;
    // The milliseconds recorded when the desk took the time; 0 where it did not.
    std::int32_t thousandths() const { return kind == Kind::Taken ? ms : 0; }
    bool operator==(const LaneTime &) const = default;
};

// A row of the results table whose sixth text is a time: a lane row of a heat's block (lane, start
// number, name, a column of its own, note (the club), time, place ("1", "Aus", a place text)). The
// table keeps every row so; in the other rows the time is a text like any other.
struct LaneRecord {
    QString lane;
    QString number;
    QString name;
    QString spare;
    QString note;
    LaneTime time;
    QString place;

    Row row() const { return {lane, number, name, spare, note, time.shown(), place}; }
    static LaneRecord fromRow(const Row &row);
    bool operator==(const LaneRecord &) const = default;
};

// A heat's block as read from the table: the header row (heat number, kind, discipline, class, wind,
// start time of day, a column of its own) and its lane rows; where a meet-management start list
// gave the heat, its origin there.
struct HeatRecord {
    int heat = 0;
    Row header;
    std::vector<LaneRecord> lanes;
    std::optional<HeatOrigin> origin;
    QStringList raceLog; // the notes of its race ("Signal COM5 unterbrochen 12:03:44,120–12:03:51,870")

    QString kind() const { return header[1]; }
    QString discipline() const { return header[2]; }
    QString className() const { return header[3]; }
    QString wind() const { return header[4]; }
    QString startTime() const { return header[5]; }
};

// The results table of the meeting: row 0 the title, row 1 the date, then one block of L + 1 rows
// a heat (L the lane count the blocks are laid out for). The rows keep the times as the desk took
// them; the heats and lanes are read through the layout.
class Record {
public:
    explicit Record(int lanes = 8) : lanes_(lanes), rows_(13) {}

    int lanes() const { return lanes_; }
    // Another lane count: every row keeps its place and is read with the new layout.
    void setLanes(int lanes) { lanes_ = lanes; }
    int rowCount() const { return static_cast<int>(rows_.size()); }
    // Rows beyond the count go; new ones are empty.
    void setRowCount(int rows);
    static int headerRow(int heat, int lanes) { return (heat - 1) * (lanes + 1) + 2; }
    int headerRow(int heat) const { return headerRow(heat, lanes_); }

    // Row r as the table has it; empty beyond the table.
    const LaneRecord &at(int r) const;
    // Row r to change; the table grows to hold it.
    LaneRecord &at(int r);
    Row row(int r) const { return at(r).row(); }
    QString cell(int column, int r) const { return row(r)[static_cast<std::size_t>(column)]; }
    void setRow(int r, const Row &row) { at(r) = LaneRecord::fromRow(row); }
    // One text of row r; a time cell set so holds that text.
    void setCell(int column, int r, const QString &text);

    QString title() const { return at(0).lane; }
    QString date() const { return at(1).lane; }

    // Heat h's block (as far as the table has it; rows beyond read empty).
    HeatRecord heat(int h) const;

    // Heats entered since the table began, each once, in the order of their first entry; the heat of
    // the latest entry (0 before the first).
    QList<int> entered;
    int lastEntered = 0;
    // Heats of a meet-management start list, by heat number.
    QMap<int, HeatOrigin> origins;
    // The notes of an entered heat's race, by heat number; a heat without any has none here.
    QMap<int, QStringList> raceLogs;

    bool operator==(const Record &) const = default;

private:
    int lanes_;
    std::vector<LaneRecord> rows_;
};

// A lane row of the desk, as the race leaves it.
struct DeskLane {
    QString number;
    QString name;
    QString note;         // the club, from the table
    bool on = true;       // takes part in the next race
    // The lane time: -1 the lane does not take part, 0 ready or running, above 0 the time it stopped
    // with (or a loaded heat's time, for the order of places).
    std::int32_t laneTime = -1;
    LaneTime time;        // what the time display shows while the lane does not run
    bool final = false;   // shows a final time (its display is no longer see-through)
    bool hidden = false;  // marked "Aus": the time is not shown
    bool running = false; // the race's clock counts for it
    QString place;        // "1", "2" ..., "Aus", a place text, or empty
    std::int64_t stopNanos = 0; // when it stopped in this race (monotonic), 0 when it has not
    // Its light barrier was interrupted at the start: the line's first edge, the clearing, stops
    // nothing.
    bool blockedAtStart = false;
    bool operator==(const DeskLane &) const = default;
};

// One entry of the finish list of the one-barrier mode: a time the finish barrier took.
struct FinishEntry {
    std::int32_t ms = 0;
    QString text;
    bool operator==(const FinishEntry &) const = default;
};

// One edge of a serial line as the meeting takes it: when (tick counter, monotonic instant), and
// which way.
struct Edge {
    std::uint32_t tick = 0;
    std::int64_t nanos = 0; // 0: unknown
    bool active = false;
};

enum class RaceState { Ready, Running, Stopped };

// A serial port without signal while a race ran (its adapter pulled out): since when, and when it
// came back (none: not yet), as times of day.
struct SignalGap {
    QString port; // "COM5"
    QTime from;
    std::optional<QTime> until;
    // "Signal COM5 unterbrochen 12:03:44,120–12:03:51,870"; one still open ends with the dash.
    QString text() const;
    bool operator==(const SignalGap &) const = default;
};

// The heat on the desk and its race.
struct Desk {
    QString title;        // the event title field
    QDate date;
    bool dateOn = true;   // the date goes into the table
    int heat = 1;         // the heat field
    QString kind;         // "Vorlauf", "Endlauf"
    QString discipline;
    QString className;
    QString wind;         // the wind field's text ("0,0")
    double windValue = 0; // its value
    QString windUnit = QStringLiteral("m/s");
    std::array<DeskLane, kLaneRows + 1> lanes{}; // [1] .. [12]

    RaceState state = RaceState::Ready;
    std::uint32_t start = 0;       // the start instant on the tick counter
    QString startTimeOfDay;        // the time of day of the start ("14:05:33")
    int finishCount = 0;           // lanes stopped so far
    std::vector<int> placingOrder; // lanes in the order they were given their places
    std::vector<FinishEntry> finishList;
    int finishListTag = 0;         // places handed out from the finish list
    bool lockOutArmed = false;     // the start contact and the finish barrier are locked out
    std::uint32_t lockOutTick = 0; // since this edge
    std::vector<std::pair<int, Edge>> earlyLaneEdges; // lane edges while ready, for a contact start
    bool heatLoadPending = false;  // a start list came during the race: its heat loads at the reset
    // The race log: the ports without signal during the race, in the order they went (a port that
    // was without signal at the start counts from when it went). Entered with the heat.
    std::vector<SignalGap> signalGaps;
    QMap<QString, QTime> portsLost; // ports without signal now, since when
};

// What changes the results the desk takes: shown resolution, rounding, the edge the lines act on,
// the one-barrier mode, the lane count.
struct Settings {
    int lanes = 8;
    int accuracy = 1;
    bool roundUp = false;
    int edge = 0;          // 0: a start or finish line acts when it becomes active, 1: inactive
    bool oneBarrier = false;
    int lockOutMs = 10;    // the start contact and the finish barrier after an accepted edge
};

class Meeting : public QObject {
    Q_OBJECT
public:
    explicit Meeting(QObject *parent = nullptr);

    const Settings &settings() const { return settings_; }
    const Record &record() const { return record_; }
    const Desk &desk() const { return desk_; }
    const DeskLane &lane(int n) const { return desk_.lanes.at(static_cast<std::size_t>(n)); }
    int lanes() const { return settings_.lanes; }
    // The heat number in use: a number typed below 1 counts as 1, a long one as 100.
    int currentHeat() const;
    bool raceOnDesk() const { return desk_.state != RaceState::Ready; }
    // The time of a lane of the running race, at a tick of the counter (unsigned 32-bit difference:
    // a wrap of the counter changes nothing).
    std::int32_t raceTime(std::uint32_t tick) const { return static_cast<std::int32_t>(tick - desk_.start); }

    // ---- settings ----
    void setAccuracy(int accuracy);
    void setRoundUp(bool on);
    void setEdge(int edge);
    void setOneBarrier(bool on);
    // The lane count of the desk; the table's blocks are laid out anew for it.
    void setLanes(int lanes);

    // ---- the heat on the desk ----
    void setTitle(const QString &title);
    void setDate(const QDate &date, bool on);
    void setHeatFields(const QString &kind, const QString &discipline, const QString &className);
    void setWind(const QString &text, double value, const QString &unit);
    void setHeatNumber(int heat);
    void setNumber(int lane, const QString &number);
    void setName(int lane, const QString &name);
    void setOn(int lane, bool on);
    void setAllOn(bool on);

    // ---- the race ----
    // The start: the race begins at tick; timeOfDay is recorded with the heat.
    void start(std::uint32_t tick, const QString &timeOfDay);
    // Stops a running lane at tick, taken at the monotonic instant nanos: its time, and its place in
    // the order of the instants. A stop within the start's millisecond counts as 1 ms.
    void stopLane(int lane, std::uint32_t tick, std::int64_t nanos);
    bool allStopped() const;
    // STOPP: the lanes that still run show nothing; their stop keys still act.
    void stopRace();
    // Back to ready: the lanes show zero, the taking-part ones wait for the next start.
    void reset();
    // "Aus" and back; the places are counted again.
    void toggleOut(int lane);
    // A place text of the place-text menu.
    void setPlaceText(int lane, const QString &text);
    // Places again by lane time: lanes with equal times keep the order they were placed in.
    void recountPlaces();

    // ---- serial lines ----
    // A port lost its signal at a time of day (its adapter was pulled out): noted in the race log
    // while a race runs (some lane still running), and at every start until it is back.
    void portLost(const QString &port, const QTime &at);
    // The port has its signal again: an interruption of the race log still open ends at.
    void portBack(const QString &port, const QTime &at);
    // The port is no longer watched (closed by the settings): it is not noted at later starts.
    void portForgotten(const QString &port);
    // The race log as its notes read.
    QStringList raceLog() const;
    // A lane's barrier was interrupted at the start (or not).
    void setBlockedAtStart(int lane, bool blocked);
    // A lane line's edge: true when it is the clearing of a barrier interrupted at the start, which
    // stops nothing; the lane then waits for its next edge as any other.
    bool takeClearingEdge(int lane, bool active);
    bool edgeActs(bool active) const;
    bool lockedOut(std::uint32_t tick) const;
    void lockOut(std::uint32_t tick);
    void endLockOut();
    // A lane's edge while the desk is ready, kept for a second for a contact start that comes later.
    void keepEarlyLaneEdge(int lane, const Edge &edge);
    std::vector<std::pair<int, Edge>> takeEarlyLaneEdges();

    // ---- the finish list of the one-barrier mode ----
    void addFinishTime(std::int32_t ms);
    // Hands entry index to the lane: its time and the next place of the list.
    void assignFinishEntry(int lane, int index);
    void removeFinishEntry(int index);
    void clearFinishList();

    // ---- the record ----
    // "Eintragen": the heat on the desk into its block of the table.
    void enterHeat();
    // The heat's block onto the desk's lanes.
    void loadHeat();
    void setHeatLoadPending(bool pending) { desk_.heatLoadPending = pending; }
    // After a start list filled the table: a new meeting of heats none of which is entered yet,
    // whose origins are those given; its current heat onto the lanes, or at the reset while a race
    // is on the desk.
    void beginStartList(const QMap<int, HeatOrigin> &origins);
    // The table of a journal, as it was; the lane count follows its layout.
    void restore(const Record &record);
    // For the readers of start lists, which fill the table as a whole before beginStartList.
    Record &recordToWrite() { return record_; }

signals:
    void laneChanged(int lane);   // a lane row of the desk
    void raceChanged();           // the race's state, instants or finish list
    void deskChanged();           // the heat fields on the desk
    void heatEntered(int heat);
    void recordChanged();         // the table otherwise (a start list, a journal, a layout)
    void settingsChanged();

private:
    DeskLane &laneToWrite(int n) { return desk_.lanes.at(static_cast<std::size_t>(n)); }

    Settings settings_;
    Record record_;
    Desk desk_;
};

// A place caption that is a place number ("1", "12"), as opposed to "Aus" or a place text.
bool isPlaceNumber(const QString &caption);

} // namespace meeting
