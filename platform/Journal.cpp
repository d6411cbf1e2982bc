#include "Journal.h"

#include <QCryptographicHash>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

const QByteArray kMagicPrefix = "ZIELKRON-JOURNAL ";
constexpr int kVersion = 3;
// The format of a journal without origins: the same, read by builds that know no origins.
constexpr int kVersionWithoutOrigins = 2;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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

// The body: one line a value, "name<TAB>value", the origins of the heats with their lane names,
// then one line a filled cell, "cell<TAB>row<TAB>column<TAB>text".
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
    for (auto o = j.origins.cbegin(); o != j.origins.cend(); ++o) {
        body += "origin\t" + QByteArray::number(o.key()) + '\t' + QByteArray::number(o->event) + '\t'
                + QByteArray::number(o->round) + '\t' + QByteArray::number(o->heat) + '\t' + (o->utf8 ? '1' : '0')
                + '\n';
        for (auto n = o->names.cbegin(); n != o->names.cend(); ++n) {
            body += "name\t" + QByteArray::number(n.key()) + '\t';
            appendEscaped(body, n->last);
            body += '\t';
            appendEscaped(body, n->first);
            body += '\n';
        }
    }
    for (auto m = j.millis.cbegin(); m != j.millis.cend(); ++m)
        body += "millis\t" + QByteArray::number(m.key()) + '\t' + QByteArray::number(m.value()) + '\n';
    for (const JournalCell &c : j.cells) {
        body += "cell\t";
        body += QByteArray::number(c.row);
        body += '\t';
        body += QByteArray::number(c.col);
        body += '\t';
        appendEscaped(body, c.text);
        body += '\n';
    }
    const bool plain = j.origins.isEmpty() && j.millis.isEmpty();
    QByteArray out = kMagicPrefix + QByteArray::number(plain ? kVersionWithoutOrigins : kVersion) + '\n';
    out += QByteArray::number(body.size()) + '\n';
    out += QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + '\n';
    out += body;
    return out;
}

namespace {

// The three header lines and where the body begins; nothing when they are missing.
struct Header {
    QByteArray lines[3];
    qsizetype body = 0;
};

std::optional<Header> readHeader(const QByteArray &bytes)
{
    Header h;
    qsizetype at = 0;
    for (QByteArray &line : h.lines) {
        const qsizetype eol = bytes.indexOf('\n', at);
        if (eol < 0 || eol - at > 128)
            return std::nullopt;
        line = bytes.mid(at, eol - at);
        at = eol + 1;
    }
    h.body = at;
    return h;
}

// A count as the desk writes it: decimal digits only, within 0..max; -1 otherwise.
int count(QByteArrayView text, int max)
{
    if (text.isEmpty() || text.size() > 9)
        return -1;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n <= max ? n : -1;
}

// The version a header names, -1 for none.
int headerVersion(const Header &header)
{
    if (!header.lines[0].startsWith(kMagicPrefix))
        return -1;
    return count(QByteArrayView(header.lines[0]).sliced(kMagicPrefix.size()), 999);
}

} // namespace

JournalFormat journalFormat(const QByteArray &bytes)
{
    const std::optional<Header> header = readHeader(bytes);
    if (!header)
        return JournalFormat::Unknown;
    const int version = headerVersion(*header);
    if (version < 1)
        return JournalFormat::Unknown;
    if (version > kVersion)
        return JournalFormat::Newer;
    // The first builds wrote format 1 with a JSON body; the line body of later format-1 journals
    // is the current one.
    if (version == 1 && bytes.size() > header->body && bytes[header->body] == '{')
        return JournalFormat::Older;
    return JournalFormat::Current;
}

std::optional<MeetingJournal> decodeJournal(const QByteArray &bytes, QString *why)
{
    auto fail = [why](const char *text) -> std::optional<MeetingJournal> {
        if (why)
            *why = QString::fromUtf8(text);
        return std::nullopt;
    };
    if (bytes.size() > JournalLimits::Bytes)
        return fail("Datei zu groß");
    const std::optional<Header> header = readHeader(bytes);
    if (!header)
        return fail("Kopfzeilen fehlen");
    switch (journalFormat(bytes)) {
    case JournalFormat::Current: break;
    case JournalFormat::Older: return fail("älteres Format");
    case JournalFormat::Newer: return fail("neueres Format");
    case JournalFormat::Unknown: return fail("keine Sicherungsdatei des Zeitnahmeplatzes");
    }
    bool ok = false;
    const qlonglong length = header->lines[1].toLongLong(&ok);
    if (!ok || length < 0 || length != bytes.size() - header->body)
        return fail("Länge stimmt nicht (Datei abgeschnitten oder verlängert)");
    const QByteArrayView body = QByteArrayView(bytes).sliced(header->body);
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() != header->lines[2])
        return fail("Prüfsumme stimmt nicht");

    // The body's lines, one after the other.
    qsizetype pos = 0;
    QByteArrayView name, value;
    auto next = [&]() {
        if (pos >= body.size())
            return false;
        const qsizetype eol = body.indexOf('\n', pos);
        if (eol < 0)
            return false;
        const QByteArrayView line = body.sliced(pos, eol - pos);
        pos = eol + 1;
        const qsizetype tab = line.indexOf('\t');
        if (tab < 0)
            return false;
        name = line.first(tab);
        value = line.sliced(tab + 1);
        return true;
    };

    // The values, each once and in the order the desk writes them.
    MeetingJournal j;
    const char *const names[] = {"title", "date", "written", "lanes", "lastHeat", "heats", "rowCount", "colCount"};
    for (const char *expected : names) {
        if (!next() || name != expected)
            return fail("Inhalt nicht lesbar");
        const std::optional<QString> text = unescaped(value);
        if (!text)
            return fail("Inhalt nicht lesbar");
        if (name == "title")
            j.title = *text;
        else if (name == "date")
            j.date = *text;
        else if (name == "written")
            j.written = QDateTime::fromString(*text, Qt::ISODateWithMs);
        else if (name == "lanes")
            j.lanes = count(value, JournalLimits::Lanes);
        else if (name == "lastHeat")
            j.lastHeat = count(value, JournalLimits::Heats);
        else if (name == "rowCount")
            j.rowCount = count(value, JournalLimits::Rows);
        else if (name == "colCount")
            j.colCount = count(value, JournalLimits::Columns);
        else if (name == "heats" && !value.isEmpty()) {
            for (const QByteArray &h : value.toByteArray().split(',')) {
                const int heat = count(h, JournalLimits::Heats);
                if (heat < 1 || j.heats.contains(heat))
                    return fail("Werte außerhalb ihres Bereichs");
                j.heats.append(heat);
            }
        }
    }
    // The last entry is one of the heats entered, and there is one exactly when any was entered.
    if (!j.written.isValid() || j.lanes < 1 || j.lastHeat < 0 || j.rowCount < 1
        || j.colCount != JournalLimits::Columns || (j.lastHeat == 0) != j.heats.isEmpty()
        || (j.lastHeat > 0 && !j.heats.contains(j.lastHeat)))
        return fail("Werte außerhalb ihres Bereichs");

    // The origins (format 3 only), heat by heat, each with its lane names lane by lane; the kept
    // lane times (format 3 only), row by row; then the filled cells, row by row and column by
    // column, each inside the table.
    const bool origins = headerVersion(*header) >= kVersion;
    int origin = 0;   // heat of the latest origin line
    int nameLane = 0; // lane of the latest name line of that heat
    int millisRow = -1; // row of the latest kept lane time
    bool cells = false;
    qsizetype previous = -1;
    while (pos < body.size()) {
        if (!next())
            return fail("Inhalt nicht lesbar");
        if (name == "millis") {
            const QList<QByteArray> fields = value.toByteArray().split('\t');
            if (!origins || cells || fields.size() != 2)
                return fail("Inhalt nicht lesbar");
            const int row = count(fields[0], j.rowCount - 1);
            const int ms = count(fields[1], JournalLimits::Millis);
            if (row <= millisRow || ms < 1)
                return fail("Zeit einer Bahn nicht lesbar");
            j.millis.insert(row, ms);
            millisRow = row;
            continue;
        }
        if (name == "origin" || name == "name") {
            if (!origins || cells || millisRow >= 0)
                return fail("Inhalt nicht lesbar");
            const QList<QByteArray> fields = value.toByteArray().split('\t');
            if (name == "origin") {
                if (fields.size() != 5)
                    return fail("Herkunft eines Laufs nicht lesbar");
                const int heat = count(fields[0], JournalLimits::Heats);
                if (heat <= origin)
                    return fail("Herkunft eines Laufs nicht lesbar");
                HeatOrigin o;
                o.event = count(fields[1], JournalLimits::OriginNumber);
                o.round = count(fields[2], JournalLimits::OriginNumber);
                o.heat = count(fields[3], JournalLimits::OriginNumber);
                if (o.event < 0 || o.round < 0 || o.heat < 0 || (fields[4] != "0" && fields[4] != "1"))
                    return fail("Herkunft eines Laufs nicht lesbar");
                o.utf8 = fields[4] == "1";
                j.origins.insert(heat, o);
                origin = heat;
                nameLane = 0;
            } else {
                if (origin == 0 || fields.size() != 3)
                    return fail("Name einer Bahn nicht lesbar");
                const int lane = count(fields[0], JournalLimits::Lanes);
                const std::optional<QString> last = unescaped(fields[1]);
                const std::optional<QString> first = unescaped(fields[2]);
                if (lane <= nameLane || !last || !first || (last->isEmpty() && first->isEmpty()))
                    return fail("Name einer Bahn nicht lesbar");
                j.origins[origin].names.insert(lane, {*last, *first});
                nameLane = lane;
            }
            continue;
        }
        if (name != "cell")
            return fail("Inhalt nicht lesbar");
        cells = true;
        const qsizetype t1 = value.indexOf('\t');
        const qsizetype t2 = t1 < 0 ? -1 : value.indexOf('\t', t1 + 1);
        if (t2 < 0)
            return fail("Zelle nicht lesbar");
        const int row = count(value.first(t1), j.rowCount - 1);
        const int col = count(value.sliced(t1 + 1, t2 - t1 - 1), j.colCount - 1);
        if (row < 0 || col < 0)
            return fail("Zelle außerhalb der Tabelle");
        const qsizetype index = qsizetype{row} * j.colCount + col;
        if (index <= previous)
            return fail("Zellen nicht in der Reihenfolge der Tabelle");
        previous = index;
        const std::optional<QString> text = unescaped(value.sliced(t2 + 1));
        if (!text || text->isEmpty())
            return fail("Zelle nicht lesbar");
        j.cells.append({row, col, *text});
    }
    return j;
}

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
