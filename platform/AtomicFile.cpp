#include "AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

int FileCalls::open(const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t FileCalls::write(int fd, const void *data, size_t size) { return ::write(fd, data, size); }
int FileCalls::stat(const char *path, struct ::stat *st) { return ::stat(path, st); }
int FileCalls::fstat(int fd, struct ::stat *st) { return ::fstat(fd, st); }
int FileCalls::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileCalls::fsync(int fd) { return ::fsync(fd); }
int FileCalls::close(int fd) { return ::close(fd); }
int FileCalls::rename(const char *from, const char *to) { return ::rename(from, to); }
int FileCalls::unlink(const char *path) { return ::unlink(path); }

FileCalls &FileCalls::system()
{
    static FileCalls calls;
    return calls;
}

ReplacementFile::ReplacementFile(const QString &target, FileMode mode, FileCalls &files)
    : files_(files), target_(QFile::encodeName(QFileInfo(target).absoluteFilePath()))
{
    struct ::stat st {};
    const bool keepMode = mode == FileMode::AsBefore && files_.stat(target_.constData(), &st) == 0;
    const mode_t keptMode = st.st_mode & 07777;
    // A name of its own, created exclusively: two writers never share a temporary file, and no
    // file that happens to lie beside the target is ever overwritten.
    const QFileInfo info(target);
    const QByteArray stem = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()) + '.';
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const QByteArray candidate = stem + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd_ = files_.open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          mode == FileMode::Private ? 0600 : 0666);
        if (fd_ >= 0)
            path_ = candidate;
        else if (errno != EEXIST) {
            fail(errno);
            return;
        }
    }
    if (fd_ < 0) {
        fail(EEXIST);
        return;
    }
    // A new file's mode is the one the system gave it under the umask.
    if (keepMode)
        mode_ = keptMode;
    else if (files_.fstat(fd_, &st) == 0)
        mode_ = st.st_mode & 07777;
}

ReplacementFile::~ReplacementFile()
{
    if (fd_ >= 0)
        files_.close(fd_);
    if (!committed_ && !path_.isEmpty())
        files_.unlink(path_.constData());
}

QString ReplacementFile::path() const { return QFile::decodeName(path_); }

bool ReplacementFile::fail(int error)
{
    if (error_.isEmpty())
        error_ = QString::fromLocal8Bit(std::strerror(error));
    return false;
}

bool ReplacementFile::write(const QByteArray &bytes)
{
    if (!isValid() || fd_ < 0)
        return fail(EBADF);
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = files_.write(fd_, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        p += n;
        left -= n;
    }
    return true;
}

bool ReplacementFile::close()
{
    if (fd_ < 0)
        return isValid();
    const int closed = files_.close(fd_);
    fd_ = -1;
    // A network file system may report a failed write only here.
    return closed == 0 ? isValid() : fail(errno);
}

bool ReplacementFile::commit()
{
    if (!isValid())
        return false;
    if (fd_ < 0) {
        // Filled by name: opened again to be flushed.
        fd_ = files_.open(path_.constData(), O_RDONLY | O_CLOEXEC, 0);
        if (fd_ < 0)
            return fail(errno);
    }
    // The mode is set only where it differs: a memory stick's file system refuses modes it
    // cannot hold, which is no reason to lose an export.
    struct ::stat st {};
    if (files_.fstat(fd_, &st) == 0 && (st.st_mode & 07777) != mode_)
        files_.fchmod(fd_, mode_);
    if (files_.fsync(fd_) != 0) {
        fail(errno);
        close();
        return false;
    }
    if (!close())
        return false;
    if (files_.rename(path_.constData(), target_.constData()) != 0)
        return fail(errno);
    committed_ = true;
    // The rename reaches the disk with the folder (a file system that cannot flush a folder
    // says EINVAL and keeps its renames anyway).
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(target_)).absolutePath());
    const int dir = files_.open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dir < 0)
        return true;
    const int synced = files_.fsync(dir);
    const int e = errno;
    files_.close(dir);
    return synced == 0 || e == EINVAL || fail(e);
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error, FileMode mode, FileCalls &files)
{
    ReplacementFile file(path, mode, files);
    if (file.write(bytes) && file.commit())
        return true;
    if (error)
        *error = file.error();
    return false;
}

} // namespace platform
