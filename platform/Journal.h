#pragma once
// The meeting journal on disk: written after every change of the results table, so that a crash, a
// power cut or a closed laptop lid loses nothing that was entered. This is the durable writing and
// the claim on the file; what a journal holds and how it is written down is the journal's format
// (results/JournalFile.h).

#include "AtomicFile.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {

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
    // The bytes made on the writer's thread, so that the desk only hands over a copy of its data.
    void write(std::function<QByteArray()> encode);
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
    std::function<QByteArray()> pendingEncode_;
    bool busy_ = false;
    bool quit_ = false;
    QString error_;
    std::function<void(const QString &)> onError_;
    std::thread thread_;
};

} // namespace platform
