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
//    millisecond ("millis<TAB>row<TAB>ms"), then one line a filled cell
//    ("cell<TAB>row<TAB>col<TAB>text"); backslash, TAB and line ends escaped>
// A file whose length or checksum does not match is never trusted, nor one that holds anything the
// desk could not have written. A journal without origins and kept lane times is written as format
// 2, which is format 3 without them, so that a build that reads format 2 still reads it. Format 1 had the same header;
// its body was JSON in the first builds and these lines later, which are read as format 2.

#include "AtomicFile.h"
#include "HeatOrigin.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {

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
    QMap<int, HeatOrigin> origins; // heats of a meet-management start list, by heat
    QMap<int, std::int32_t> millis; // lane times kept to the millisecond, by table row
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

// The journal belongs to one desk at a time. The claim is a lock (flock) on a file beside the
// journal, held as long as this object lives; the kernel drops it with the process, so a desk
// that died leaves no claim behind. The lock file itself stays.
class JournalLock {
public:
    enum class State {
        Held,          // this desk owns the journal
        HeldElsewhere, // another desk runs on it
        Unavailable,   // no lock file can be opened (error() says why), as in a folder that cannot be written
    };
    explicit JournalLock(const QString &journalFile); // tries once, never waits
    ~JournalLock();
    JournalLock(const JournalLock &) = delete;
    JournalLock &operator=(const JournalLock &) = delete;
    State state() const { return state_; }
    const QString &error() const { return error_; }
    static QString lockFile(const QString &journalFile);

private:
    int fd_ = -1;
    State state_ = State::Unavailable;
    QString error_;
};

// Writes journals on a thread of its own, so that a slow disk never holds up the desk. Only the
// newest journal handed in counts: one that is overtaken before it is written is skipped.
class JournalWriter {
public:
    explicit JournalWriter(QString path, FileCalls &files = FileCalls::system());
    ~JournalWriter(); // writes what is pending, then ends the thread
    JournalWriter(const JournalWriter &) = delete;
    JournalWriter &operator=(const JournalWriter &) = delete;

    void write(QByteArray bytes);
    // Encodes the journal on the writer's thread, so that the desk only hands over its cells.
    void write(MeetingJournal journal);
    // Waits until everything handed in is on disk; false when the last write failed.
    bool flush();
    QString lastError() const;
    // Called on the writer's thread when a write fails (with the system's error text), once per
    // run of failures: a full disk is told, not kept quiet.
    void setErrorHandler(std::function<void(const QString &)> handler);
    const QString &path() const { return path_; }

private:
    void run();

    QString path_;
    FileCalls &files_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::optional<QByteArray> pending_;
    std::optional<MeetingJournal> pendingJournal_;
    bool busy_ = false;
    bool quit_ = false;
    QString error_;
    std::function<void(const QString &)> onError_;
    std::thread thread_;
};

} // namespace platform
