#pragma once
// Files replaced whole and durably. The new content goes into a temporary file of a name of its
// own beside the target, which is flushed to the disk and renamed over the target; then the folder
// is flushed, so that the rename itself survives a power cut. Whenever the writing stops, the
// target holds either its old or its new complete content.

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

// The file calls of such a write, one for one those of the system, so that a test can watch them
// and make them fail (a full disk, a failing flush, a crash half way). Failures set errno.
class FileCalls {
public:
    virtual ~FileCalls() = default;
    virtual int open(const char *path, int flags, mode_t mode);
    virtual ssize_t write(int fd, const void *data, size_t size);
    virtual int stat(const char *path, struct ::stat *st);
    virtual int fstat(int fd, struct ::stat *st);
    virtual int fchmod(int fd, mode_t mode);
    virtual int fsync(int fd);
    virtual int close(int fd);
    virtual int rename(const char *from, const char *to);
    virtual int unlink(const char *path);

    // The system's own calls.
    static FileCalls &system();
};

// The permissions of a replaced file.
enum class FileMode {
    Private,  // 0600, for the desk's own files
    AsBefore, // an existing file keeps its mode; a new one gets the usual mode (0666 less the umask)
};

// The temporary file that will replace target. An uncommitted one is removed when it goes.
class ReplacementFile {
public:
    ReplacementFile(const QString &target, FileMode mode, FileCalls &files = FileCalls::system());
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    // False when the file could not be made; error() says why.
    bool isValid() const { return !path_.isEmpty() && error_.isEmpty(); }
    const QString &error() const { return error_; }
    // The temporary file's name, for a writer that fills it by name: close() it first.
    QString path() const;

    bool write(const QByteArray &bytes);
    bool close();
    // Flushes the file to the disk, renames it over the target and flushes the folder.
    bool commit();

private:
    bool fail(int error);

    FileCalls &files_;
    QByteArray target_;
    QByteArray path_;
    int fd_ = -1;
    mode_t mode_ = 0600;
    bool committed_ = false;
    QString error_;
};

// Writes bytes to path through a ReplacementFile; false with the system's error text on failure.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr,
                         FileMode mode = FileMode::Private, FileCalls &files = FileCalls::system());

} // namespace platform
