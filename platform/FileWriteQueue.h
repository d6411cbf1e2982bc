#pragma once
// Files written on a thread of their own, one after the other in the order handed in, each
// replaced whole and durably (see AtomicFile.h): a slow, full or vanished disk never holds up
// the desk.

#include "AtomicFile.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

class FileWriteQueue {
public:
    explicit FileWriteQueue(FileCalls &files = FileCalls::system());
    ~FileWriteQueue(); // writes what is pending, then ends the thread
    FileWriteQueue(const FileWriteQueue &) = delete;
    FileWriteQueue &operator=(const FileWriteQueue &) = delete;

    // A file keeps its permissions when it is replaced; a new one gets the usual ones. done, when
    // given, is called on the writer's thread with the system's error text (empty: written) and
    // answers for this file in place of the error handler.
    void write(QString path, QByteArray bytes, std::function<void(const QString &error)> done = {});
    // Waits until everything handed in is written; false when the last write failed.
    bool flush();
    // Called on the writer's thread when a write fails (the file and the system's error text),
    // once per run of failures.
    void setErrorHandler(std::function<void(const QString &path, const QString &error)> handler);

private:
    void run();

    FileCalls &files_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    struct Job {
        QString path;
        QByteArray bytes;
        std::function<void(const QString &)> done;
    };
    std::deque<Job> pending_;
    bool busy_ = false;
    bool quit_ = false;
    bool failing_ = false;
    std::function<void(const QString &, const QString &)> onError_;
    std::thread thread_;
};

} // namespace platform
