#include "Journal.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

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

namespace {

// One field of the body: backslash, TAB, line ends escaped, so that a field never splits a line.
void appendEscaped(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

std::optional<QString> unescaped(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\') {
            if (++i >= field.size())
                return std::nullopt;
            switch (field[i]) {
            case '\\': c = '\\'; break;
            case 't': c = '\t'; break;
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            default: return std::nullopt;
            }
        }
        out += c;
    }
    return QString::fromUtf8(out);
}

} // namespace

// The body: one line a value, "name<TAB>value", then one line a filled cell,
// "cell<TAB>row<TAB>column<TAB>text".
QByteArray encodeJournal(const MeetingJournal &j)
{
    QByteArray body;
    body.reserve(256 + j.cells.size() * 24);
    auto line = [&body](const char *name, const QString &value) {
        body += name;
        body += '\t';
        appendEscaped(body, value);
        body += '\n';
    };
    line("title", j.title);
    line("date", j.date);
    line("written", j.written.toString(Qt::ISODateWithMs));
    line("lanes", QString::number(j.lanes));
    line("lastHeat", QString::number(j.lastHeat));
    QStringList heats;
    for (int h : j.heats)
        heats << QString::number(h);
    line("heats", heats.join(QLatin1Char(',')));
    line("rowCount", QString::number(j.rowCount));
    line("colCount", QString::number(j.colCount));
    for (const JournalCell &c : j.cells) {
        body += "cell\t";
        body += QByteArray::number(c.row);
        body += '\t';
        body += QByteArray::number(c.col);
        body += '\t';
        appendEscaped(body, c.text);
        body += '\n';
    }
    QByteArray out = kMagic + '\n';
    out += QByteArray::number(body.size()) + '\n';
    out += QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + '\n';
    out += body;
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
    const QByteArrayView body = QByteArrayView(bytes).sliced(at);
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() != header[2])
        return fail("Prüfsumme stimmt nicht");

    MeetingJournal j;
    j.lanes = j.lastHeat = j.rowCount = j.colCount = -1;
    auto number = [](QByteArrayView v) {
        bool good = false;
        const int n = v.toInt(&good);
        return good ? n : -1;
    };
    qsizetype pos = 0;
    while (pos < body.size()) {
        qsizetype eol = body.indexOf('\n', pos);
        if (eol < 0)
            return fail("Inhalt nicht lesbar");
        const QByteArrayView line = body.sliced(pos, eol - pos);
        pos = eol + 1;
        const qsizetype tab = line.indexOf('\t');
        if (tab < 0)
            return fail("Inhalt nicht lesbar");
        const QByteArrayView name = line.first(tab);
        const QByteArrayView rest = line.sliced(tab + 1);
        if (name == "cell") {
            const qsizetype t1 = rest.indexOf('\t');
            const qsizetype t2 = t1 < 0 ? -1 : rest.indexOf('\t', t1 + 1);
            if (t2 < 0)
                return fail("Zelle nicht lesbar");
            const int row = number(rest.first(t1)), col = number(rest.sliced(t1 + 1, t2 - t1 - 1));
            const std::optional<QString> text = unescaped(rest.sliced(t2 + 1));
            if (!text)
                return fail("Zelle nicht lesbar");
            if (row < 0 || j.rowCount < 1 || row >= j.rowCount || col < 0 || j.colCount < 1 || col >= j.colCount)
                return fail("Zelle außerhalb der Tabelle");
            j.cells.append({row, col, *text});
            continue;
        }
        const std::optional<QString> value = unescaped(rest);
        if (!value)
            return fail("Inhalt nicht lesbar");
        if (name == "title")
            j.title = *value;
        else if (name == "date")
            j.date = *value;
        else if (name == "written")
            j.written = QDateTime::fromString(*value, Qt::ISODateWithMs);
        else if (name == "lanes")
            j.lanes = number(rest);
        else if (name == "lastHeat")
            j.lastHeat = number(rest);
        else if (name == "rowCount")
            j.rowCount = number(rest);
        else if (name == "colCount")
            j.colCount = number(rest);
        else if (name == "heats") {
            for (const QString &h : value->split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const int heat = h.toInt(&ok);
                if (!ok || heat < 1 || heat > 100)
                    return fail("Werte außerhalb ihres Bereichs");
                j.heats.append(heat);
            }
        }
    }
    if (j.lanes < 1 || j.lanes > 12 || j.lastHeat < 0 || j.lastHeat > 100 || j.rowCount < 1
        || j.rowCount > kMaxRows || j.colCount < 1 || j.colCount > kMaxCols)
        return fail("Werte außerhalb ihres Bereichs");
    // The table's size may be given again after some of its cells.
    for (const JournalCell &cell : j.cells)
        if (cell.row >= j.rowCount || cell.col >= j.colCount)
            return fail("Zelle außerhalb der Tabelle");
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
        pendingJournal_.reset();
    }
    wake_.notify_all();
}

void JournalWriter::write(MeetingJournal journal)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingJournal_ = std::move(journal);
        pending_.reset();
    }
    wake_.notify_all();
}

bool JournalWriter::flush()
{
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !pending_ && !pendingJournal_ && !busy_; });
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
        wake_.wait(lock, [this] { return quit_ || pending_ || pendingJournal_; });
        if (!pending_ && !pendingJournal_ && quit_)
            return;
        std::optional<QByteArray> bytes = std::move(pending_);
        std::optional<MeetingJournal> journal = std::move(pendingJournal_);
        pending_.reset();
        pendingJournal_.reset();
        busy_ = true;
        lock.unlock();
        if (journal)
            bytes = encodeJournal(*journal);
        QString error;
        const bool ok = writeFileAtomically(path_, *bytes, &error);
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
