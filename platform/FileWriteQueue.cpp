#include "FileWriteQueue.h"

namespace platform {

FileWriteQueue::FileWriteQueue(FileCalls &files) : files_(files), thread_([this] { run(); }) {}

FileWriteQueue::~FileWriteQueue()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void FileWriteQueue::write(QString path, QByteArray bytes, std::function<void(const QString &)> done)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back({std::move(path), std::move(bytes), std::move(done)});
    }
    wake_.notify_all();
}

bool FileWriteQueue::flush()
{
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_.empty() && !busy_; });
    return !failing_;
}

void FileWriteQueue::setErrorHandler(std::function<void(const QString &, const QString &)> handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    onError_ = std::move(handler);
}

void FileWriteQueue::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || !pending_.empty(); });
        if (pending_.empty())
            return;
        const Job job = std::move(pending_.front());
        pending_.pop_front();
        busy_ = true;
        lock.unlock();
        QString error;
        const bool ok = writeFileAtomically(job.path, job.bytes, &error, FileMode::AsBefore, files_);
        if (job.done)
            job.done(ok ? QString() : error);
        lock.lock();
        busy_ = false;
        if (!job.done) {
            const bool newFailure = !ok && !failing_;
            failing_ = !ok;
            if (newFailure && onError_) {
                const auto handler = onError_;
                lock.unlock();
                handler(job.path, error);
                lock.lock();
            }
        }
        done_.notify_all();
    }
}

} // namespace platform
