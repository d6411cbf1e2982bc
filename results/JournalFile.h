#pragma once
// The meeting journal: the whole results table on disk, written after every change of the table,
// so that a crash, a power cut or a closed laptop lid loses nothing that was entered.
//
// File layout (UTF-8 text, so that it can be looked at):
//   ZIELKRON-JOURNAL 3
//   <length of the body in bytes>
//   <SHA-256 of the body, hex>
//   <body: one line a value ("title<TAB>..."), then for each heat of a meet-management start list
//    one line "origin<TAB>heat<TAB>event<TAB>round<TAB>heat there<TAB>utf8" followed by one line a
//    lane name ("name<TAB>lane<TAB>last<TAB>first"), then one line a lane time kept to the
//    millisecond ("millis<TAB>row<TAB>ms", format 3) or one line a time the desk took as it shows it
//    ("time<TAB>row<TAB>ms<TAB>accuracy<TAB>rounded up 0/1<TAB>blank after it 0/1", format 4),
//    then one line a note of an entered heat's race log ("racelog<TAB>heat<TAB>text", format 4),
//    then one line a filled cell
//    ("cell<TAB>row<TAB>col<TAB>text"); backslash, TAB and line ends escaped>
// A file whose length or checksum does not match is never trusted, nor one that holds anything the
// desk could not have written. A journal is written in the oldest format that holds it: without
// times the desk took and without origins as format 2, without times and race logs as format 3, so
// that a build
// that reads that format still reads it. Format 1 had the same header; its body was JSON in the
// first builds and these lines later, which are read as format 2.

#include "HeatOrigin.h"
#include "Meeting.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <QMap>

#include <cstdint>
#include <optional>

namespace results {

struct JournalCell {
    int row = 0;
    int col = 0;
    QString text;
};

struct MeetingJournal {
    QString title;        // event title field
    QString date;         // event date as the table records it (may be empty)
    QDateTime written;    // when the journal was written
    int lanes = 8;        // lane count the heat blocks were laid out for
    int lastHeat = 0;     // heat of the latest entry; 0 when nothing was entered yet
    QList<int> heats;     // heats entered, each once, in the order of their first entry
    int rowCount = 13;
    int colCount = 7;
    QList<JournalCell> cells; // every filled cell
    QMap<int, meeting::HeatOrigin> origins; // heats of a meet-management start list, by heat
    QMap<int, std::int32_t> millis; // lane times kept to the millisecond, by table row (format 3)
    QMap<int, meeting::LaneTime> times; // the times the desk took, as it took and shows them, by table row (format 4)
    QMap<int, QStringList> raceLogs; // the notes of the entered heats' races, by heat (format 4)
};

// What the desk can write, and so all a journal may hold: the results table has 7 columns and at
// most 2,000 rows (the longest start list; 100 heats of 12 lanes take 1,302), 100 heats, 12 lanes.
struct JournalLimits {
    static constexpr int Rows = 2000;
    static constexpr int Columns = 7;
    static constexpr int Heats = 100;
    static constexpr int Lanes = 12;
    // The numbers of an event, round and heat in a meet-management program's start list.
    static constexpr int OriginNumber = 999999;
    // A lane time kept to the millisecond: at most a day.
    static constexpr int Millis = 86400000;
    // The notes of one heat's race, and the characters of one.
    static constexpr int RaceNotes = meeting::kMaxRaceNotes;
    static constexpr int RaceNoteLength = 200;
    // Far beyond any meeting (a full one takes a few hundred kilobytes); a file above is not read.
    static constexpr qint64 Bytes = qint64{64} << 20;
};

QByteArray encodeJournal(const MeetingJournal &journal);
// The journal in bytes, or nothing (why says what is wrong) when they are not a complete journal
// of the current format within the limits.
std::optional<MeetingJournal> decodeJournal(const QByteArray &bytes, QString *why = nullptr);

// The format a journal's header names: one this desk reads, one of an older or a newer build of
// it, or no journal header at all.
enum class JournalFormat { Current, Older, Newer, Unknown };
JournalFormat journalFormat(const QByteArray &bytes);

// The journal of a meeting's table, with the title field of the desk.
MeetingJournal journalOf(const meeting::Record &record, const QString &title, const QDateTime &written);
// The table a journal holds. A time of an earlier format that was kept to the millisecond is the
// desk's time again where it gives the very text the cell holds; any other stays the cell's text.
meeting::Record recordOf(const MeetingJournal &journal);

} // namespace results
