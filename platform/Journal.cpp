#include "Journal.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {

const QByteArray kMagic = "ZIELKRON-JOURNAL 1";
constexpr int kMaxRows = 10'000'000;
constexpr int kMaxCols = 64;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QByteArray encodeJournal(const MeetingJournal &j)
{
    QJsonArray heats;
    for (int h : j.heats)
        heats.append(h);
    QJsonArray cells;
    for (const JournalCell &c : j.cells)
        cells.append(QJsonArray{c.row, c.col, c.text});
    const QJsonObject body{
        {QStringLiteral("title"), j.title},
        {QStringLiteral("date"), j.date},
        {QStringLiteral("written"), j.written.toString(Qt::ISODateWithMs)},
        {QStringLiteral("lanes"), j.lanes},
        {QStringLiteral("lastHeat"), j.lastHeat},
        {QStringLiteral("heats"), heats},
        {QStringLiteral("rowCount"), j.rowCount},
        {QStringLiteral("colCount"), j.colCount},
        {QStringLiteral("cells"), cells},
    };
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Indented);
    QByteArray out = kMagic + '\n';
    out += QByteArray::number(json.size()) + '\n';
    out += QCryptographicHash::hash(json, QCryptographicHash::Sha256).toHex() + '\n';
    out += json;
    return out;
}

std::optional<MeetingJournal> decodeJournal(const QByteArray &bytes, QString *why)
{
    auto fail = [why](const char *text) -> std::optional<MeetingJournal> {
        if (why)
            *why = QString::fromUtf8(text);
        return std::nullopt;
    };
    // Three header lines, then the body.
    qsizetype at = 0;
    QByteArray header[3];
    for (QByteArray &line : header) {
        const qsizetype eol = bytes.indexOf('\n', at);
        if (eol < 0 || eol - at > 128)
            return fail("Kopfzeilen fehlen");
        line = bytes.mid(at, eol - at);
        at = eol + 1;
    }
    if (header[0] != kMagic)
        return fail("keine Sicherungsdatei des Zeitnahmeplatzes");
    bool ok = false;
    const qlonglong length = header[1].toLongLong(&ok);
    if (!ok || length < 0 || length != bytes.size() - at)
        return fail("Länge stimmt nicht (Datei abgeschnitten oder verlängert)");
    const QByteArray body = bytes.mid(at);
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() != header[2])
        return fail("Prüfsumme stimmt nicht");

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return fail("Inhalt nicht lesbar");
    const QJsonObject o = doc.object();
    MeetingJournal j;
    j.title = o.value(QStringLiteral("title")).toString();
    j.date = o.value(QStringLiteral("date")).toString();
    j.written = QDateTime::fromString(o.value(QStringLiteral("written")).toString(), Qt::ISODateWithMs);
    j.lanes = o.value(QStringLiteral("lanes")).toInt(-1);
    j.lastHeat = o.value(QStringLiteral("lastHeat")).toInt(-1);
    j.rowCount = o.value(QStringLiteral("rowCount")).toInt(-1);
    j.colCount = o.value(QStringLiteral("colCount")).toInt(-1);
    if (j.lanes < 1 || j.lanes > 12 || j.lastHeat < 0 || j.lastHeat > 100 || j.rowCount < 1
        || j.rowCount > kMaxRows || j.colCount < 1 || j.colCount > kMaxCols)
        return fail("Werte außerhalb ihres Bereichs");
    for (const QJsonValue &h : o.value(QStringLiteral("heats")).toArray()) {
        const int heat = h.toInt(-1);
        if (heat < 1 || heat > 100)
            return fail("Werte außerhalb ihres Bereichs");
        j.heats.append(heat);
    }
    for (const QJsonValue &v : o.value(QStringLiteral("cells")).toArray()) {
        const QJsonArray c = v.toArray();
        if (c.size() != 3 || !c[2].isString())
            return fail("Zelle nicht lesbar");
        const int row = c[0].toInt(-1), col = c[1].toInt(-1);
        if (row < 0 || row >= kMaxRows || col < 0 || col >= j.colCount)
            return fail("Zelle außerhalb der Tabelle");
        j.cells.append({row, col, c[2].toString()});
    }
    return j;
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error,
                         const std::function<bool(WriteStage)> &interrupt)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temp = target + ".tmp";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(systemError(errno));
    auto stop = [&](WriteStage stage) { return interrupt && interrupt(stage); };
    auto closeFail = [&](int e) {
        ::close(fd);
        ::unlink(temp.constData());
        return fail(systemError(e));
    };
    if (stop(WriteStage::TempCreated)) {
        ::close(fd);
        return fail(QStringLiteral("unterbrochen"));
    }
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        // A cut-short write stops half way, as a crash in the middle would.
        const qsizetype chunk = interrupt ? std::max<qsizetype>(1, left / 2) : left;
        const ssize_t n = ::write(fd, p, static_cast<size_t>(chunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return closeFail(errno);
        }
        p += n;
        left -= n;
        if (left > 0 && stop(WriteStage::TempWritten)) {
            ::close(fd);
            return fail(QStringLiteral("unterbrochen"));
        }
    }
    if (::fsync(fd) != 0)
        return closeFail(errno);
    if (stop(WriteStage::TempSynced)) {
        ::close(fd);
        return fail(QStringLiteral("unterbrochen"));
    }
    if (::close(fd) != 0) {
        const int e = errno;
        ::unlink(temp.constData());
        return fail(systemError(e));
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int e = errno;
        ::unlink(temp.constData());
        return fail(systemError(e));
    }
    // The rename itself reaches the disk with the folder.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

JournalWriter::JournalWriter(QString path) : path_(std::move(path)), thread_([this] { run(); }) {}

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
    }
    wake_.notify_all();
}

bool JournalWriter::flush()
{
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !pending_ && !busy_; });
    return error_.isEmpty();
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
        wake_.wait(lock, [this] { return quit_ || pending_; });
        if (!pending_ && quit_)
            return;
        QByteArray bytes = std::move(*pending_);
        pending_.reset();
        busy_ = true;
        lock.unlock();
        QString error;
        const bool ok = writeFileAtomically(path_, bytes, &error);
        lock.lock();
        busy_ = false;
        error_ = ok ? QString() : error;
        done_.notify_all();
    }
}

} // namespace platform
