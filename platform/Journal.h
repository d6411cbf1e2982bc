#pragma once
// The meeting journal: the whole results table on disk, written after every change of the table,
// so that a crash, a power cut or a closed laptop lid loses nothing that was entered.
//
// File layout (UTF-8 text, so that it can be looked at):
//   ZIELKRON-JOURNAL 1
//   <length of the body in bytes>
//   <SHA-256 of the body, hex>
//   <body: one line a value ("title<TAB>...") and one line a filled cell ("cell<TAB>row<TAB>col<TAB>text"),
//    with backslash, TAB and line ends escaped>
// A file whose length or checksum does not match is never trusted.

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
};

QByteArray encodeJournal(const MeetingJournal &journal);
// The journal in bytes, or nothing (why says what is wrong) when they are not a complete journal.
std::optional<MeetingJournal> decodeJournal(const QByteArray &bytes, QString *why = nullptr);

// Points at which a test may cut a write short, as a crash would.
enum class WriteStage { TempCreated, TempWritten, TempSynced };

// Writes bytes to path through a temporary file beside it (write, flush, fsync, rename, fsync of
// the folder): whenever the write stops, path holds either its old or its new complete content.
// interrupt, when given, is asked at each stage; true stops the write there as a crash would
// (the temporary file is left behind) and the result is false.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr,
                         const std::function<bool(WriteStage)> &interrupt = {});

// Writes journals on a thread of its own, so that a slow disk never holds up the desk. Only the
// newest journal handed in counts: one that is overtaken before it is written is skipped.
class JournalWriter {
public:
    explicit JournalWriter(QString path);
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
