#include "Journal.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

JournalLock::JournalLock(const QString &journalFile)
{
    const QByteArray path = QFile::encodeName(lockFile(journalFile));
    // Read access is all a lock needs, so a lock file of any owner serves.
    fd_ = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = systemError(errno);
        return;
    }
    int locked;
    do
        locked = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0) {
        state_ = State::Held;
        return;
    }
    const int e = errno;
    ::close(fd_);
    fd_ = -1;
    if (e == EWOULDBLOCK) {
        state_ = State::HeldElsewhere;
        return;
    }
    error_ = systemError(e);
}

JournalLock::~JournalLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QString JournalLock::lockFile(const QString &journalFile) { return journalFile + QStringLiteral(".lock"); }

JournalWriter::JournalWriter(QString path, FileCalls &files)
    : path_(std::move(path)), files_(files), thread_([this] { run(); })
{
}

JournalWriter::~JournalWriter()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void JournalWriter::write(QByteArray bytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = std::move(bytes);
        pendingEncode_ = nullptr;
    }
    wake_.notify_all();
}

void JournalWriter::write(std::function<QByteArray()> encode)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingEncode_ = std::move(encode);
        pending_.reset();
    }
    wake_.notify_all();
}

bool JournalWriter::flush()
{
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !pending_ && !pendingEncode_ && !busy_; });
    return error_.isEmpty();
}

void JournalWriter::setErrorHandler(std::function<void(const QString &)> handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    onError_ = std::move(handler);
}

QString JournalWriter::lastError() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void JournalWriter::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || pending_ || pendingEncode_; });
        if (!pending_ && !pendingEncode_ && quit_)
            return;
        std::optional<QByteArray> bytes = std::move(pending_);
        std::function<QByteArray()> encode = std::move(pendingEncode_);
        pending_.reset();
        pendingEncode_ = nullptr;
        busy_ = true;
        lock.unlock();
        if (encode)
            bytes = encode();
        QString error;
        const bool ok = writeFileAtomically(path_, *bytes, &error, FileMode::Private, files_);
        lock.lock();
        busy_ = false;
        const bool newFailure = !ok && error_.isEmpty();
        error_ = ok ? QString() : error;
        if (newFailure && onError_) {
            const auto handler = onError_;
            lock.unlock();
            handler(error);
            lock.lock();
        }
        done_.notify_all();
    }
}

} // namespace platform
