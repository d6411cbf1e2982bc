#include "FakePlatform.h"

#include <QFile>

#include <cerrno>
#include <ctime>

namespace fake {

namespace {

class Reader final : public platform::SettingsReader {
public:
    explicit Reader(Key key) : key_(std::move(key)) {}
    std::optional<std::int32_t> readInteger(const QString &name) override
    {
        const QVariant v = key_.value(name);
        if (v.typeId() != QMetaType::Int)
            return std::nullopt;
        return v.toInt();
    }
    std::optional<QString> readString(const QString &name) override
    {
        const QVariant v = key_.value(name);
        if (!v.isValid())
            return std::nullopt;
        return v.toString();
    }

private:
    Key key_;
};

class Writer final : public platform::SettingsWriter {
public:
    Writer(Settings &store, QString program) : store_(store), program_(std::move(program)) {}
    void writeInteger(const QString &name, std::int32_t value) override
    {
        pending_.insert(name, value);
        order_ << name;
    }
    void writeString(const QString &name, const QString &value) override
    {
        pending_.insert(name, value);
        order_ << name;
    }
    bool commit() override
    {
        Key &key = store_.keys[program_];
        for (auto it = pending_.cbegin(); it != pending_.cend(); ++it)
            key.insert(it.key(), it.value());
        store_.writeOrder = order_;
        return true;
    }

private:
    Settings &store_;
    QString program_;
    Key pending_;
    QStringList order_;
};

} // namespace

std::unique_ptr<platform::SettingsReader> Settings::openForRead(const QString &program)
{
    if (!keys.contains(program))
        return nullptr;
    return std::make_unique<Reader>(keys.value(program));
}

std::unique_ptr<platform::SettingsWriter> Settings::openForWrite(const QString &program)
{
    if (!writable)
        return nullptr;
    return std::make_unique<Writer>(*this, program);
}

int Dialogs::messageBox(QWidget *, const QString &text, const QString &caption, platform::MessageButtons buttons,
                        platform::MessageIcon icon)
{
    messages.append({text, caption, buttons, icon});
    if (answers.empty()) {
        switch (buttons) {
        case platform::MessageButtons::YesNo: return platform::MbYes;
        case platform::MessageButtons::YesNoDefaultNo: return platform::MbNo;
        default: return platform::MbOk;
        }
    }
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

bool Dialogs::openFile(QWidget *, platform::FileDialogRequest &request)
{
    fileRequests.append(request);
    if (fileAnswers.empty())
        return false;
    auto answer = std::move(fileAnswers.front());
    fileAnswers.pop_front();
    return answer(request);
}

bool Dialogs::saveFile(QWidget *parent, platform::FileDialogRequest &request)
{
    return openFile(parent, request);
}

bool Dialogs::chooseFolder(QWidget *, const QString &, QString &folder)
{
    folderRequests << folder;
    if (folderAnswers.empty())
        return false;
    auto answer = std::move(folderAnswers.front());
    folderAnswers.pop_front();
    return answer(folder);
}

int Dialogs::execModal(QDialog *dialog)
{
    modals.append(dialog);
    if (modalAnswers.empty())
        return 0;
    auto answer = std::move(modalAnswers.front());
    modalAnswers.pop_front();
    return answer(dialog);
}

QStringList Files::calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

QString Files::pathOf(int fd) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_.value(fd);
}

int Files::before(const QString &call, bool *crashing)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_ << call;
        if (crashed_)
            return EIO;
    }
    if (crash && crash(call)) {
        std::lock_guard<std::mutex> lock(mutex_);
        crashed_ = true;
        if (crashing)
            *crashing = true;
        return EIO;
    }
    return failure ? failure(call) : 0;
}

int Files::open(const char *path, int flags, mode_t mode)
{
    const QString name = QFile::decodeName(path);
    if (const int e = before(QStringLiteral("open ") + name)) {
        errno = e;
        return -1;
    }
    const int fd = platform::FileCalls::open(path, flags, mode);
    if (fd >= 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        paths_[fd] = name;
    }
    return fd;
}

ssize_t Files::write(int fd, const void *data, size_t size)
{
    bool crashing = false;
    if (const int e = before(QStringLiteral("write ") + pathOf(fd), &crashing)) {
        if (crashing)
            platform::FileCalls::write(fd, data, size / 2);
        errno = e;
        return -1;
    }
    return platform::FileCalls::write(fd, data, size);
}

int Files::stat(const char *path, struct ::stat *st)
{
    if (const int e = before(QStringLiteral("stat ") + QFile::decodeName(path))) {
        errno = e;
        return -1;
    }
    return platform::FileCalls::stat(path, st);
}

int Files::fstat(int fd, struct ::stat *st)
{
    if (const int e = before(QStringLiteral("fstat ") + pathOf(fd))) {
        errno = e;
        return -1;
    }
    return platform::FileCalls::fstat(fd, st);
}

int Files::fchmod(int fd, mode_t mode)
{
    if (const int e = before(QStringLiteral("fchmod ") + pathOf(fd))) {
        errno = e;
        return -1;
    }
    return platform::FileCalls::fchmod(fd, mode);
}

int Files::fsync(int fd)
{
    if (const int e = before(QStringLiteral("fsync ") + pathOf(fd))) {
        errno = e;
        return -1;
    }
    return platform::FileCalls::fsync(fd);
}

int Files::close(int fd)
{
    // Descriptors are closed also after a crash, as the kernel closes those of a dead process.
    const int e = before(QStringLiteral("close ") + pathOf(fd));
    // The name goes before the number is free: another thread's open may reuse it at once.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paths_.remove(fd);
    }
    const int closed = platform::FileCalls::close(fd);
    if (e) {
        errno = e;
        return -1;
    }
    return closed;
}

int Files::rename(const char *from, const char *to)
{
    if (const int e = before(QStringLiteral("rename ") + QFile::decodeName(from) + QLatin1Char(' ') + QFile::decodeName(to))) {
        errno = e;
        return -1;
    }
    return platform::FileCalls::rename(from, to);
}

int Files::unlink(const char *path)
{
    if (const int e = before(QStringLiteral("unlink ") + QFile::decodeName(path))) {
        errno = e;
        return -1;
    }
    return platform::FileCalls::unlink(path);
}

} // namespace fake

namespace fake {

void ScriptedSerialDevice::report(unsigned received, const std::vector<platform::LineEdge> &edges)
{
    const std::size_t n = queued_.load();
    while (n - taken_.load() == kMaxReports && !stopped_.load()) {
        const timespec step{0, 100000};
        nanosleep(&step, nullptr);
    }
    Scripted &s = script_[n % kMaxReports];
    s.received = received;
    s.edges.clear();
    for (const platform::LineEdge &e : edges)
        s.edges.push_back(e);
    queued_.store(n + 1);
}

void ScriptedSerialDevice::fail(int error)
{
    failAfter_.store(queued_.load());
    failure_.store(error);
}

platform::SerialDevice::Wait ScriptedSerialDevice::waitEvents(unsigned, unsigned &received, platform::LineEdges &edges)
{
    ++waits_;
    while (!stopped_.load()) {
        const std::size_t next = taken_.load();
        if (failure_.load() != 0 && next >= failAfter_.load())
            return Wait::Lost;
        if (next < queued_.load()) {
            const Scripted &s = script_[next % kMaxReports];
            received = s.received;
            edges = s.edges;
            taken_.store(next + 1);
            return Wait::Events;
        }
        const timespec step{0, 100000};
        nanosleep(&step, nullptr);
    }
    return Wait::Stopped;
}

} // namespace fake
